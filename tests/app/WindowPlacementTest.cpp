// Every window on the screen's available area, at any scale: centred, then moved in, and
// made smaller where the screen is smaller than the window; the step marker and the line
// beside it never overlap.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include "ChildRun.h"
#include "Fixtures.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "download/TForm5.h"
#include "support/DesktopServers.h"
#include "player/TForm6.h"

namespace {

QRect Outer(QWidget* w) { return {w->pos(), platform::OuterSizeOf(w->size())}; }

std::vector<QWidget*> AllWindows() { return {Form1, Form4, Form6, Form3, Form5}; }

// The controls of the download list window that the user must reach.
std::vector<QWidget*> ListControls() {
    return {Form5->Label4,  Form5->CheckListBox1, Form5->Button1, Form5->Button2,
            Form5->Button3, Form5->Button5,       Form5->Button4, Form5->CheckBox1};
}

TEST(OnScreenPosition, CentredThenMovedIntoTheArea) {
    const QSize screen(1280, 1024);
    const QRect whole(QPoint(0, 0), screen);
    // Fits: centred as ever, truncated toward zero.
    EXPECT_EQ(platform::OnScreenPosition(screen, whole, {462, 607}), QPoint(409, 208));
    EXPECT_EQ(platform::OnScreenPosition({1025, 768}, QRect(0, 0, 1025, 768), {572, 315}), QPoint(226, 226));
    // A panel of 200 pixels at the top: the centred window would reach under it.
    EXPECT_EQ(platform::OnScreenPosition(screen, QRect(0, 300, 1280, 724), {462, 607}), QPoint(409, 300));
    // A panel at the bottom.
    EXPECT_EQ(platform::OnScreenPosition(screen, QRect(0, 0, 1280, 700), {462, 607}), QPoint(409, 93));
    // Failure twin: larger than the area, the window starts at its top left corner, where its
    // caption can be taken hold of, never above or left of the screen.
    EXPECT_EQ(platform::OnScreenPosition({640, 512}, QRect(0, 0, 640, 512), {733, 610}), QPoint(0, 0));
    EXPECT_EQ(platform::OnScreenPosition({301, 200}, QRect(0, 20, 301, 180), {572, 315}), QPoint(0, 20));
}

class WindowPlacement : public PlatformFixture {
protected:
    void Create(QSize screen, QRect available = QRect()) {
        desktop->screen = screen;
        desktop->available = available;
        windows = std::make_unique<ApplicationWindows>();
    }
    void TearDown() override {
        windows.reset();
        PlatformFixture::TearDown();
    }
    std::unique_ptr<ApplicationWindows> windows;
};

TEST_F(WindowPlacement, DesignSizesCentredOnALargeScreen) {
    Create({1280, 1024});
    EXPECT_EQ(Outer(Form5), QRect(409, 208, 462, 607));
    EXPECT_EQ(Form5->CheckListBox1->height(), 353);
    EXPECT_EQ(Form5->GroupBox1->y(), 476);
    EXPECT_EQ(Outer(Form6).size(), QSize(733, 510));
    EXPECT_EQ(Form4->width(), 741);
    for (QWidget* w : AllWindows()) EXPECT_TRUE(QRect(0, 0, 1280, 1024).contains(Outer(w))) << w->windowTitle().toStdString();
}

// 1280 × 1024 at a scale of two is a screen of 640 × 512 for the windows.
TEST_F(WindowPlacement, EveryWindowInsideTheAreaOfAScaledScreen) {
    for (QRect area : {QRect(0, 0, 640, 512), QRect(0, 24, 640, 488)}) {
        SCOPED_TRACE(area.y());
        Create({640, 512}, area);
        for (QWidget* w : AllWindows())
            EXPECT_TRUE(area.contains(Outer(w))) << w->windowTitle().toStdString() << " " << Outer(w).x() << ","
                                                 << Outer(w).y() << " " << Outer(w).width() << "x" << Outer(w).height();
        // The list window gave up rows of its song list, not its buttons.
        EXPECT_LT(Form5->CheckListBox1->height(), 353);
        EXPECT_GE(Form5->CheckListBox1->height(), 8 * 12);
        for (QWidget* c : ListControls()) {
            const QRect inWindow(c->mapTo(Form5, QPoint(0, 0)), c->size());
            EXPECT_TRUE(Form5->rect().contains(inWindow)) << c->objectName().toStdString() << " " << inWindow.y();
        }
        EXPECT_LT(Form5->CheckListBox1->geometry().bottom(), Form5->GroupBox1->y());
        // The viewer and the progress bar fit too.
        EXPECT_EQ(Form4->ProgressBar1->geometry().right() + Form4->ProgressBar1->x() + 1, Form4->width());
        windows.reset();
    }
}

TEST_F(WindowPlacement, ViewerStaysOnTheScreenWhateverSizeTheUserLeftIt) {
    Create({640, 512});
    Form6->resize(2000, 2000);
    const std::string bmp = Path("p.bmp");
    QImage img(8, 4, QImage::Format_RGB32);
    img.fill(Qt::blue);
    ASSERT_TRUE(img.save(QString::fromStdString(bmp), "BMP"));
    Form1->CheckListBox1->Add(bmp);
    Form1->CheckListBox1->SetItemIndex(0);
    Form1->Image1DblClick();
    EXPECT_TRUE(Form6->isVisible());
    EXPECT_TRUE(QRect(0, 0, 640, 512).contains(Outer(Form6)));
    Form6->hide();
}

// "完了 " is wider than the room before the countdown line: the line moves clear of it, and
// back when the marker is narrow again.
TEST_F(WindowPlacement, StepMarkerAndModeLineDoNotOverlap) {
    Create({1280, 1024});
    TForm1* form = Form1;
    form->CheckBox2->setChecked(true);
    form->ComboBox3->setCurrentIndex(0);  // at once
    form->AutoSearchIndex = 15;           // the sequence is complete
    form->Timer3Timer();                  // idle: automatic mode
    form->Timer4Timer();
    ASSERT_EQ(form->Label11->text(), QStringLiteral("完了 "));
    form->Timer3Timer();
    ASSERT_EQ(form->Label10->text(), QStringLiteral("自動検索モード..."));
    const QRect marker(form->Label11->pos(), form->Label11->sizeHint());
    const QRect line(form->Label10->pos(), form->Label10->sizeHint());
    EXPECT_FALSE(marker.intersects(line)) << marker.right() << " " << line.left();
    EXPECT_LT(line.right(), form->Label9->x());
    // Failure twin: activity sets the narrow marker, and the line goes back to its place.
    fakes->desktop->cursor += QPoint(5, 5);
    form->Timer3Timer();
    EXPECT_EQ(form->Label11->text(), QStringLiteral("　"));
    EXPECT_EQ(form->Label10->x(), 24);
}

// The same on a real X server of 1280 × 1024, at scale 1 and 2, with the windows shown: run
// in a child process, since the scale is fixed when the application starts.
TEST(WindowPlacementOnX, WindowsShownInsideTheScreenAtScaleOneAndTwo) {
    if (qEnvironmentVariableIsSet("TESSALY_PLACEMENT_CHILD")) GTEST_SKIP() << "this is the child";
    testsupport::XvfbServer x(QStringLiteral("1280x1024x24"));
    ASSERT_TRUE(x.Running());
    for (const char* scale : {"1", "2"}) {
        SCOPED_TRACE(scale);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(x.Name()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
        env.insert(QStringLiteral("TESSALY_PLACEMENT_CHILD"), QStringLiteral("1"));
        testsupport::ExpectChildRunPasses(QStringLiteral("WindowPlacementChild.*"), env, 1);
    }
}

class WindowPlacementChild : public PlatformFixture {};

TEST_F(WindowPlacementChild, ShownWindowsInsideTheAvailableArea) {
    if (!qEnvironmentVariableIsSet("TESSALY_PLACEMENT_CHILD")) GTEST_SKIP() << "runs in the child of WindowPlacementOnX";
    // The real screen, as the program sees it.
    platform::Current().desktop = std::make_unique<platform::QtDesktop>();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const int scale = qEnvironmentVariable("QT_SCALE_FACTOR").toInt();
    EXPECT_EQ(area.size(), QSize(1280 / scale, 1024 / scale));
    ApplicationWindows windows;
    for (QWidget* w : AllWindows()) {
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w)) << w->windowTitle().toStdString();
        const QRect outer = Outer(w);
        EXPECT_TRUE(area.contains(outer)) << w->windowTitle().toStdString() << " " << outer.x() << "," << outer.y()
                                          << " " << outer.width() << "x" << outer.height();
        // Where the window system put it: the client area lies inside the screen.
        const QRect client(w->mapToGlobal(QPoint(0, 0)), w->size());
        EXPECT_TRUE(area.contains(client)) << w->windowTitle().toStdString();
    }
    for (QWidget* c : ListControls()) {
        const QRect global(c->mapToGlobal(QPoint(0, 0)), c->size());
        EXPECT_TRUE(area.contains(global)) << c->metaObject()->className() << " " << global.y() << "+" << global.height();
    }
    for (QWidget* w : AllWindows()) w->hide();
}

}  // namespace
