// Help window, progress window and the drawn pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>
#include <QWindow>
#include <QPushButton>
#include <memory>

#include "app/AppIcon.h"
#include "app/HelpText.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "platform/Services.h"
#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/ServiceScope.h"

namespace {

// Puts a scripted screen in place for the windows created inside the test.
class FakeScreen {
public:
    explicit FakeScreen(QSize size) {
        auto fake = std::make_unique<platform::FakeDesktop>();
        fake->screen = size;
        saved_ = std::move(platform::Current().desktop);
        platform::Current().desktop = std::move(fake);
    }
    ~FakeScreen() { platform::Current().desktop = std::move(saved_); }

private:
    std::unique_ptr<platform::Desktop> saved_;
};

int VisibleHelpWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<TForm3*>(w) && w->isVisible()) ++n;
    return n;
}

// Share of the bar's width painted differently from an empty bar, along its middle row.
double FilledShare(TForm4& form) {
    const int keepMax = form.Maximum(), keepPos = form.Position();
    form.SetMaximum(100);
    form.SetPosition(0);
    const QImage empty = form.ProgressBar1->grab().toImage();
    form.SetMaximum(keepMax);
    form.SetPosition(keepPos);
    const QImage now = form.ProgressBar1->grab().toImage();
    const int y = now.height() / 2;
    int differing = 0;
    for (int x = 0; x < now.width(); ++x)
        if (now.pixel(x, y) != empty.pixel(x, y)) ++differing;
    return double(differing) / now.width();
}

// The windows centre themselves on the screen as they are made: on the real one where a
// test does not put a scripted one in place.
ServiceScope<platform::Desktop> RealScreen() {
    return ServiceScope<platform::Desktop>(platform::Current().desktop, std::make_unique<platform::QtDesktop>());
}

bool Transparent(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) == 0; }
bool Opaque(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) == 255; }

}  // namespace

TEST(HelpWindow, OpeningTwiceKeepsOneNonModalWindow) {
    auto screen = RealScreen();
    TForm3 help;
    ASSERT_FALSE(help.isVisible());
    help.ShowHelp();
    help.ShowHelp();
    EXPECT_EQ(VisibleHelpWindows(), 1);
    EXPECT_FALSE(help.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The close box reaches the window as a close event on its native window.
void PressCloseBox(QWidget& window) {
    QCloseEvent closeBox;
    ASSERT_NE(window.windowHandle(), nullptr);
    QApplication::sendEvent(window.windowHandle(), &closeBox);
    EXPECT_TRUE(closeBox.isAccepted());
}

TEST(HelpWindow, CloseBoxAndConfirmButtonOnlyHideIt) {
    auto screen = RealScreen();
    TForm3 help;
    help.ShowHelp();
    PressCloseBox(help);
    EXPECT_FALSE(help.isVisible());

    help.ShowHelp();
    EXPECT_TRUE(help.isVisible());

    help.Button1->click();
    EXPECT_FALSE(help.isVisible());
}

TEST(HelpWindow, ClosingItWhileNothingElseIsOpenKeepsTheProgramRunning) {
    // Only a running event loop quits on the last window closing, so run one.
    auto screen = RealScreen();
    TForm3 help;
    help.ShowHelp();
    bool stillRunning = false;
    QTimer::singleShot(0, &help, [&] {
        PressCloseBox(help);
        QTimer::singleShot(30, &help, [&] {
            stillRunning = true;
            QCoreApplication::exit(0);
        });
    });
    QApplication::exec();
    EXPECT_TRUE(stillRunning);
    EXPECT_FALSE(help.isVisible());
}

TEST(HelpWindow, TextHasTheHeadingsInOrderWithBlankLinesBetweenSections) {
    const QStringList lines = HelpTextLines();
    EXPECT_GE(lines.size(), 110);
    EXPECT_LE(lines.size(), 150);
    EXPECT_EQ(lines.first(), QStringLiteral("Tessaly　Ver1.40（｢ミルフォーネ｣接続ソフト）"));

    const QStringList headings = {
        QStringLiteral("１．概　要"),
        QStringLiteral("（１）お勧めの利用法"),
        QStringLiteral("（２）対応ファイルと起動アプリケーション"),
        QStringLiteral("２．操作方法"),
        QStringLiteral("（１）ランチャー表示"),
        QStringLiteral("（２）ランチャー表示からの復帰"),
        QStringLiteral("（３）再検索（新規検索）"),
        QStringLiteral("（４）高速検索"),
        QStringLiteral("（５）演奏、上映方法"),
        QStringLiteral("（６）自動連続演奏、上映方法"),
        QStringLiteral("（７）アプリ起動方法"),
        QStringLiteral("（８）ファイル削除方法"),
        QStringLiteral("（９）自動検索"),
        QStringLiteral("（１０）ミルフォーネ（インターネット接続状態でのご利用が必要です）"),
        QStringLiteral("　１．全てを入手しつつ自動連続演奏（お薦め方法）"),
        QStringLiteral("　２．選択した曲のみを入手しつつ自動連続演奏方法"),
        QStringLiteral("　３．自動起動の設定"),
        QStringLiteral("　４．左右音量調節"),
        QStringLiteral("（注意）自動演奏モードは、メイン画面の演奏リストの最後のファイル演奏が"),
    };
    qsizetype previous = 0;
    for (const QString& heading : headings) {
        SCOPED_TRACE(heading.toStdString());
        ASSERT_EQ(lines.count(heading), 1);
        const qsizetype at = lines.indexOf(heading);
        EXPECT_GT(at, previous);
        EXPECT_TRUE(lines.at(at - 1).isEmpty()) << "no blank line before the heading";
        previous = at;
    }
    // The maker's notice closes the text, after the note.
    EXPECT_GT(lines.indexOf(QStringLiteral("　Tessaly 開発チーム")), previous);
    EXPECT_FALSE(lines.last().isEmpty());
}

TEST(HelpWindow, ListShowsEveryLineUnwrappedInFixedRows) {
    auto screen = RealScreen();
    TForm3 help;
    help.ShowHelp();
    QApplication::processEvents();

    QListWidget* list = help.ListBox1;
    const QStringList lines = HelpTextLines();
    ASSERT_EQ(list->count(), lines.size());
    EXPECT_EQ(QFontInfo(list->font()).family(), QStringLiteral("IPAMincho"));
    EXPECT_EQ(QFontInfo(help.Button1->font()).family(), QStringLiteral("IPAPMincho"));

    const QFontMetrics metrics(list->font());
    const int room = list->viewport()->width() - 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
    for (int i = 0; i < list->count(); ++i) {
        EXPECT_EQ(list->item(i)->text(), lines.at(i));
        EXPECT_LE(metrics.horizontalAdvance(lines.at(i)), room) << "too wide for the list: " << lines.at(i).toStdString();
    }
    EXPECT_EQ(list->visualItemRect(list->item(0)).height(), 12);
    EXPECT_EQ(list->visualItemRect(list->item(3)).top(), list->visualItemRect(list->item(0)).top() + 3 * 12);
}

TEST(Centring, BothWindowsCentreByTheirOuterSizeTruncatingTowardZero) {
    // The outer size is the client area plus the designed frame (6 x 27).
    {
        FakeScreen screen({1024, 768});
        TForm3 help;
        TForm4 progress;
        EXPECT_EQ(help.pos(), QPoint(219, 197));  // (1024-586)/2, (768-374)/2
        EXPECT_EQ(progress.pos(), QPoint(138, 330));  // (1024-747)/2 = 138.5, (768-108)/2
        EXPECT_EQ(help.size(), QSize(580, 347));
        EXPECT_EQ(progress.size(), QSize(741, 81));
    }
    {
        // Smaller than the windows: at the screen's top left corner, never above or left of
        // it, where the caption cannot be taken hold of.
        FakeScreen screen({501, 301});
        TForm3 help;
        EXPECT_EQ(help.pos(), QPoint(0, 0));
    }
    {
        // The progress window narrows to the screen; its bar follows.
        FakeScreen screen({700, 60});
        TForm4 progress;
        EXPECT_EQ(progress.pos(), QPoint(0, 0));
        EXPECT_EQ(progress.width(), 694);
        EXPECT_EQ(progress.ProgressBar1->geometry().right(), 694 - 16 - 1);
    }
}

TEST(ProgressWindow, BarShowsPositionRelativeToItsMaximum) {
    auto screen = RealScreen();
    TForm4 progress;
    progress.SetMaximum(8);
    progress.SetPosition(2);
    EXPECT_NEAR(FilledShare(progress), 0.25, 0.03);

    progress.SetMaximum(1000);
    progress.SetPosition(750);
    EXPECT_NEAR(FilledShare(progress), 0.75, 0.03);

    // Past the end stays at a full bar, like the design's bar.
    progress.SetMaximum(8);
    progress.SetPosition(20);
    EXPECT_EQ(progress.Position(), 8);
    EXPECT_NEAR(FilledShare(progress), 1.0, 0.03);

    // A smaller maximum pulls the position back instead of emptying the bar.
    progress.SetMaximum(10);
    progress.SetPosition(9);
    progress.SetMaximum(3);
    EXPECT_EQ(progress.Position(), 3);
    EXPECT_NEAR(FilledShare(progress), 1.0, 0.03);

    // A level without folders gives maximum 0: an empty bar, not a busy indicator.
    progress.SetMaximum(0);
    progress.SetPosition(0);
    EXPECT_NE(progress.ProgressBar1->minimum(), progress.ProgressBar1->maximum());
    EXPECT_NEAR(FilledShare(progress), 0.0, 0.01);
}

TEST(ProgressWindow, LabelFitsItsTextAndStateSurvivesHiding) {
    auto screen = RealScreen();
    TForm4 progress;
    EXPECT_EQ(progress.Label1->text(), QStringLiteral("Label1"));
    EXPECT_EQ(progress.ProgressBar1->maximum(), 100);

    const QString folder = QStringLiteral("/home/利用者/ミュージック/お気に入りのアルバム/ライブ録音");
    progress.SetText(folder);
    EXPECT_EQ(progress.Label1->text(), folder);
    EXPECT_GE(progress.Label1->width(), QFontMetrics(progress.Label1->font()).horizontalAdvance(folder));
    EXPECT_EQ(QFontInfo(progress.Label1->font()).family(), QStringLiteral("IPAMincho"));

    progress.SetMaximum(40);
    progress.SetPosition(10);
    progress.ShowWindow();
    EXPECT_TRUE(progress.isVisible());
    EXPECT_FALSE(progress.isModal());
    progress.HideWindow();
    EXPECT_FALSE(progress.isVisible());
    progress.ShowWindow();
    EXPECT_EQ(progress.Label1->text(), folder);
    EXPECT_EQ(progress.Position(), 10);
    EXPECT_NEAR(FilledShare(progress), 0.25, 0.03);
    progress.HideWindow();
}

TEST(Pictures, IconsAndGlyphsAreDrawnWithTransparentCorners) {
    for (const QIcon& icon : {AppIcon(), HelpIcon()}) {
        ASSERT_FALSE(icon.isNull());
        for (int size : {16, 32, 256}) {
            const QImage image = icon.pixmap(size).toImage();
            ASSERT_EQ(image.size(), QSize(size, size));
            EXPECT_TRUE(Transparent(image, 0, 0));
            EXPECT_TRUE(Opaque(image, size / 2, size / 2));
        }
    }
    const QImage search = SearchGlyph().toImage();
    const QImage quick = QuickSearchGlyph().toImage();
    EXPECT_EQ(search.size(), QSize(32, 32));
    EXPECT_EQ(quick.size(), QSize(32, 32));
    EXPECT_TRUE(Transparent(search, 31, 0));
    EXPECT_TRUE(Transparent(quick, 31, 0));
    EXPECT_NE(search, quick);
}
