// Texts against the room their controls give them, measured with the fonts the program uses,
// at scale 1 and as a screen at scale 2 renders them (the font at twice the pixel size, its
// advances halved). The whole suite also runs once more under QT_SCALE_FACTOR=2.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTextBlock>
#include <cmath>

#include "ChildRun.h"
#include "Fixtures.h"
#include "download/TForm5.h"
#include "app/Controls.h"
#include "platform/MessageBoxes.h"

namespace {

// The advance of `text` in `font` on a screen of the given scale, in window pixels.
double Advance(const QFont& font, const QString& text, int scale) {
    QFont f = font;
    if (f.pixelSize() > 0)
        f.setPixelSize(f.pixelSize() * scale);
    else
        f.setPointSizeF(f.pointSizeF() * scale);
    return QFontMetricsF(f).horizontalAdvance(text) / scale;
}

QLabel* ChildLabel(QWidget* parent, const QString& text) {
    for (QLabel* l : parent->findChildren<QLabel*>())
        if (l->text() == text) return l;
    return nullptr;
}

class TextFit : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
};

TEST_F(TextFit, RemainingShareEndsBeforeThePlayer) {
    const int room = form->MediaPlayer1->x() - form->Label9->x();
    ASSERT_EQ(room, 57);  // both places as laid out
    for (const char* text : {"残り100.0%", "残り0.0%", "残り99.9%", "残り-0.1%"}) {
        const QString t = QString::fromUtf8(text);
        for (int scale : {1, 2}) EXPECT_LE(Advance(form->Label9->font(), t, scale), room) << text << " at scale " << scale;
        form->Label9->setText(t);
        form->Label9->Repaint();
        EXPECT_LE(form->Label9->x() + form->Label9->width(), form->MediaPlayer1->x()) << text;
    }
}

TEST_F(TextFit, VolumeCaptionAndChannelLabelsDoNotMeet) {
    auto* box = qobject_cast<TGroupBox*>(form->GroupBox1);
    ASSERT_NE(box, nullptr);
    box->show();
    for (int scale : {1, 2}) {
        // The letters' ink, in box pixels, as a screen of that scale draws them.
        auto ink = [scale](const QFont& font, const QString& text, QPointF baselineStart) {
            QFont f = font;
            f.setPixelSize(f.pixelSize() * scale);
            const QRectF r = QFontMetricsF(f).tightBoundingRect(text);
            return QRectF(r.x() / scale, r.y() / scale, r.width() / scale, r.height() / scale).translated(baselineStart);
        };
        const QRect cap = box->CaptionRect();
        const QRectF caption = ink(box->CaptionFont(), box->title(), QPointF(cap.left(), cap.top() + QFontMetricsF(box->CaptionFont()).ascent()));
        EXPECT_LE(cap.left() + Advance(box->CaptionFont(), box->title(), scale), box->width()) << scale;
        for (const char* channel : {"L", "R"}) {
            QLabel* label = ChildLabel(box, QString::fromLatin1(channel));
            ASSERT_NE(label, nullptr) << channel;
            // A label centres its one line vertically in its height.
            const QFontMetricsF fm(label->font());
            const double top = label->y() + (label->height() - fm.height()) / 2;
            const QRectF letter = ink(label->font(), label->text(), QPointF(label->x(), top + fm.ascent()));
            EXPECT_FALSE(caption.intersects(letter)) << channel << " at scale " << scale << ": caption ink to "
                                                     << caption.bottom() << ", letter ink from " << letter.top();
        }
    }
}

TEST_F(TextFit, IdleSearchBoxHasItsWidthAndShowsItsTextWhole) {
    QCheckBox* box = form->CheckBox2;
    EXPECT_EQ(box->geometry(), QRect(146, 68, 205, 17));
    QStyleOptionButton opt;
    opt.initFrom(box);
    opt.text = box->text();
    const QRect text = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box);
    for (int scale : {1, 2})
        EXPECT_LE(text.left() + Advance(box->font(), box->text(), scale) + 1, box->width()) << "at scale " << scale;
    // Screen readers and the mouse meet the whole designed area, as wide as designed.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(box)->rect().width(), 205);
    for (int x : {2, 120, 200}) {
        const bool before = box->isChecked();
        QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(x, 8));
        EXPECT_NE(box->isChecked(), before) << "click at " << x;
    }
    EXPECT_EQ(form->ComboBox3->isEnabled(), box->isChecked());
}

TEST_F(TextFit, SongCheckBoxesFitTheirRows) {
    TSongList* songs = Form5->CheckListBox1;
    songs->Add(QStringLiteral("song"));
    Form5->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form5));
    const QModelIndex idx = songs->model()->index(0, 0);
    const QRect row = songs->visualRect(idx);
    EXPECT_EQ(row.height(), 12);
    QStyleOptionViewItem opt;
    opt.initFrom(songs->viewport());
    opt.rect = row;
    opt.features |= QStyleOptionViewItem::HasCheckIndicator;
    opt.index = idx;
    const QRect box = songs->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, songs);
    EXPECT_TRUE(row.contains(box)) << box.y() << "+" << box.height() << " in " << row.y() << "+" << row.height();
}

TEST_F(TextFit, MemoShowsWholeLinesAndFollowsTheNewestMessage) {
    TMemo* memo = Form5->Memo1;
    Form5->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form5));
    EXPECT_EQ(memo->geometry().size(), QSize(425, 34));
    ASSERT_GE(memo->VisibleLines(), 2);
    EXPECT_EQ(memo->viewport()->height(), memo->VisibleLines() * memo->LineHeight());
    for (int fetch = 1; fetch <= 4; ++fetch) {
        Form5->AddMemoLine(QStringLiteral("館長からの一言 %1").arg(fetch));
        QCoreApplication::processEvents();
        // The newest line lies whole inside the text area.
        QTextCursor end(memo->document());
        end.movePosition(QTextCursor::End);
        const QRect caret = memo->cursorRect(end);
        EXPECT_GE(caret.top(), 0) << fetch;
        EXPECT_LE(caret.bottom(), memo->viewport()->height()) << fetch;
        // And the message before it above it: the memo is full of the newest lines.
        QTextCursor before(memo->document()->findBlockByNumber(memo->document()->blockCount() - 2));
        EXPECT_GE(memo->cursorRect(before).top(), 0) << fetch;
    }
    // Older messages can be scrolled back to.
    EXPECT_GT(memo->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(memo->verticalScrollBar()->isEnabled());
    memo->verticalScrollBar()->setValue(0);
    const QRect start = memo->cursorRect(QTextCursor(memo->document()));
    EXPECT_GE(start.top(), 0);
    EXPECT_LE(start.bottom(), memo->viewport()->height());
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->focusPolicy(), Qt::NoFocus);
}

TEST_F(TextFit, MaroonButtonsGreyOutWhenDisabled) {
    for (QPushButton* b : {Form5->Button4, form->Button2}) {
        const QColor maroon(0x80, 0, 0);
        EXPECT_EQ(b->palette().color(QPalette::Active, QPalette::ButtonText), maroon);
        EXPECT_EQ(b->palette().color(QPalette::Inactive, QPalette::ButtonText), maroon);
        EXPECT_EQ(b->palette().color(QPalette::Disabled, QPalette::ButtonText),
                  QApplication::palette(b).color(QPalette::Disabled, QPalette::ButtonText));
        b->setEnabled(false);
        const QImage look = b->grab().toImage();
        int maroonPixels = 0;
        for (int y = 0; y < look.height(); ++y)
            for (int x = 0; x < look.width(); ++x) maroonPixels += look.pixelColor(x, y) == maroon;
        EXPECT_EQ(maroonPixels, 0) << b->text().toStdString();
        b->setEnabled(true);
    }
}

// The confirmation of a download run and other boxes: lines break where the text breaks.
TEST_F(TextFit, BoxesBreakOnlyAtTheTextsLineBreaks) {
    struct Case {
        const char* text;
        int lines;
    };
    const Case cases[] = {
        {"演奏リストにチェックをつけた曲を順番にダウンロードしつつ、連続演奏を開始します。いいですか？\n"
         "現在既に入手済み曲は、新たにﾀﾞｳﾝﾛｰﾄﾞせず、それを演奏する設定になっています", 2},
        {"該当するファイルを削除しますか\r\n\r\n", 3},
        {"ご指定のファイルは壊れている\r\n可能性があります。", 2},
    };
    const int screenWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto box = platform::MakeMessageBox(platform::BoxKind::Confirmation, QString::fromUtf8(c.text));
        box->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
        QCoreApplication::processEvents();
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        const QFontMetrics fm(label->font());
        int longest = 0;
        for (const QString& line : label->text().split(QLatin1Char('\n'))) longest = std::max(longest, fm.horizontalAdvance(line));
        if (longest + 120 > screenWidth) continue;  // only a line wider than the screen may wrap
        EXPECT_FALSE(label->wordWrap());
        EXPECT_GE(label->width(), longest);
        EXPECT_LE(label->height(), c.lines * fm.lineSpacing() + 4);
        EXPECT_LE(box->width(), screenWidth);
        box->hide();
    }
}

TEST_F(TextFit, ALineWiderThanTheScreenStillWraps) {
    const QString line = QString(400, QChar(0x3042));  // あ × 400
    auto box = platform::MakeMessageBox(platform::BoxKind::Information, line);
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    QCoreApplication::processEvents();
    EXPECT_LE(box->width(), QGuiApplication::primaryScreen()->availableGeometry().width());
}

// The suite above once more with the whole program scaled by two.
TEST(TextFitScaled, HoldsAtScaleTwo) {
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == QStringLiteral("2")) GTEST_SKIP() << "this is the scaled run";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    testsupport::ExpectChildRunPasses(QStringLiteral("TextFit.*"), env, 8);
}

}  // namespace
