// Work deferred to the main window's first paint: it must be done before any input that
// could need it reaches a handler.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "Fixtures.h"
#include "app/FirstPaint.h"
#include "app/Forms.h"
#include "app/TForm1.h"
#include "app/TForm3.h"

namespace {

// A widget that notes whether the deferred work had run when an event reached it.
class Recorder : public QWidget {
public:
    explicit Recorder(const bool& ran, QWidget* parent = nullptr) : QWidget(parent), ran_(ran) { setAcceptDrops(true); }
    int seen = 0;
    bool ranBefore = false;

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::KeyPress || e->type() == QEvent::Wheel ||
            e->type() == QEvent::Drop || e->type() == QEvent::DragEnter) {
            ++seen;
            ranBefore = ran_;
            return true;
        }
        return QWidget::event(e);
    }

private:
    const bool& ran_;
};

TEST(FirstPaint, InputToAnyWindowRunsTheWorkBeforeItsHandler) {
    const QPointF at(2, 2);
    const struct {
        const char* name;
        std::function<void(QWidget*)> send;
    } rows[] = {
        {"click",
         [&](QWidget* w) {
             QMouseEvent e(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(w, &e);
         }},
        {"key",
         [](QWidget* w) {
             QKeyEvent e(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
             QApplication::sendEvent(w, &e);
         }},
        {"wheel",
         [&](QWidget* w) {
             QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
             QApplication::sendEvent(w, &e);
         }},
        {"drag",
         [&](QWidget* w) {
             QMimeData data;
             data.setText(QStringLiteral("x"));
             QDragEnterEvent e(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(w, &e);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        bool ran = false;
        int runs = 0;
        QWidget window;
        auto* child = new Recorder(ran, &window);
        Recorder other(ran);  // a second top-level window
        AfterFirstPaint(&window, -1, [&] {
            ran = true;
            ++runs;
        });
        // Events that are not input leave the work waiting for the paint.
        QEvent move(QEvent::Move);
        QApplication::sendEvent(&window, &move);
        EXPECT_FALSE(ran);
        row.send(child);
        EXPECT_EQ(child->seen, 1);
        EXPECT_TRUE(child->ranBefore);
        // Once only, whatever follows.
        row.send(&other);
        window.update();
        QCoreApplication::processEvents();
        EXPECT_EQ(runs, 1);
        EXPECT_EQ(other.seen, 1);
    }
}

TEST(FirstPaint, PaintFallbackAndDestroyedWindow) {
    {
        // The paint of another window does not count; the window's own does, from the loop.
        bool ran = false;
        QWidget window, other;
        AfterFirstPaint(&window, -1, [&] { ran = true; });
        other.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
        other.repaint();
        QCoreApplication::processEvents();
        EXPECT_FALSE(ran);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.repaint();
        QCoreApplication::processEvents();
        EXPECT_TRUE(ran);
    }
    {
        // No paint (a minimized start): the fallback.
        bool ran = false;
        QWidget window;
        AfterFirstPaint(&window, 0, [&] { ran = true; });
        QCoreApplication::processEvents();
        EXPECT_TRUE(ran);
    }
    {
        // The window gone first: nothing runs, input afterwards included.
        bool ran = false;
        auto window = std::make_unique<QWidget>();
        AfterFirstPaint(window.get(), 0, [&] { ran = true; });
        window.reset();
        QWidget next;
        QKeyEvent e(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
        QApplication::sendEvent(&next, &e);
        QCoreApplication::processEvents();
        EXPECT_FALSE(ran);
    }
}

class FirstMomentsTest : public PlatformFixture {};

TEST_F(FirstMomentsTest, HelpButtonClickedBeforeTheFirstPaintShowsTheHelp) {
    ApplicationWindows windows(ApplicationWindows::Start::MainWindowFirst);
    AfterFirstPaint(Form1, -1, [&windows] { windows.CreateHiddenWindows(); });
    Form1->show();
    ASSERT_EQ(Form3, nullptr);
    // The click arrives before the loop has painted anything.
    QTest::mouseClick(Form1->SpeedButton6, Qt::LeftButton);
    ASSERT_NE(Form3, nullptr);
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_NE(Form4, nullptr);
    EXPECT_NE(Form5, nullptr);
    EXPECT_NE(Form6, nullptr);
}

}  // namespace
