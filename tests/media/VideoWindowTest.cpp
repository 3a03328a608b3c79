// Where the video window comes up, and that it leaves the keyboard where it was.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>

#include "support/MediaMaker.h"
#include "media/GstMedia.h"
#include "media/VideoWindow.h"

namespace {

using platform::VideoPlacement;

const QRect kScreen(0, 0, 1280, 1024);
const QRect kAvailable(0, 0, 1280, 994);  // a panel of 30 pixels at the bottom

// The main window at a scale (566 × 288 and its frame, centred) and its player buttons.
struct Main {
    QRect window, player;
};
Main MainWindowAt(int scale) {
    const QSize size(572 * scale, 314 * scale);
    const QRect window(QPoint((kScreen.width() - size.width()) / 2, (kScreen.height() - size.height()) / 2), size);
    return {window, QRect(window.topLeft() + QPoint(300, 200) * scale, QSize(100, 25) * scale)};
}

TEST(VideoPlacementTest, BesideTheMainWindowInsideTheAvailableArea) {
    for (int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        const Main main = MainWindowAt(scale);
        for (QSize video : {QSize(160, 120), QSize(352, 240), QSize(640, 480) * scale}) {
            SCOPED_TRACE(video.width());
            const QRect r = VideoPlacement(video, main.window, main.player, kAvailable);
            EXPECT_TRUE(kAvailable.contains(r)) << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
            EXPECT_FALSE(r.intersects(main.player));
            EXPECT_FALSE(r.intersects(main.window));
            // Whole where a side has room; else shrunk beside it, in its proportions.
            if (video.width() * scale <= 352) {
                EXPECT_EQ(r.size(), video);
            } else {
                EXPECT_LT(r.width(), video.width());
            }
            EXPECT_NEAR(double(r.width()) / r.height(), double(video.width()) / video.height(), 0.02);
        }
    }
    // Room on the right: it goes there, level with the main window's top.
    const Main main = MainWindowAt(1);
    const QRect right = VideoPlacement(QSize(160, 120), main.window, main.player, kAvailable);
    EXPECT_EQ(right.topLeft(), QPoint(main.window.right() + 1, main.window.top()));
    // The main window at the right edge: the left side.
    const QRect atEdge(kAvailable.right() - 600, 100, 600, 300);
    const QRect left = VideoPlacement(QSize(160, 120), atEdge, QRect(atEdge.topLeft() + QPoint(300, 200), QSize(100, 25)), kAvailable);
    EXPECT_EQ(left.right(), atEdge.left() - 1);
}

TEST(VideoPlacementTest, NoRoomBesideKeepsThePlayerButtonsClearAndLargePicturesShrink) {
    // A main window that fills the screen leaves no side free: the spot chosen still
    // covers none of the player buttons.
    const QRect full = kAvailable;
    const QRect player(900, 800, 200, 50);
    const QRect r = VideoPlacement(QSize(640, 480), full, player, kAvailable);
    EXPECT_TRUE(kAvailable.contains(r));
    EXPECT_FALSE(r.intersects(player));
    // A picture larger than the screen comes down to it, in its own proportions.
    const QRect big = VideoPlacement(QSize(3840, 2160), full, player, kAvailable);
    EXPECT_EQ(big.size(), QSize(1280, 720));
    EXPECT_TRUE(kAvailable.contains(big));
    EXPECT_FALSE(big.intersects(player));
    // A main window that leaves only slivers beside it: not a picture shrunk to a stamp,
    // but the whole one off the player buttons.
    const QRect wide(4, 4, 1272, 986);
    const QRect stamp = VideoPlacement(QSize(320, 240), wide, QRect(600, 500, 100, 25), kAvailable);
    EXPECT_EQ(stamp.size(), QSize(320, 240));
    EXPECT_FALSE(stamp.intersects(QRect(600, 500, 100, 25)));
    // Nothing to keep clear of: centred in the area.
    const QRect alone = VideoPlacement(QSize(160, 120), QRect(), QRect(), kAvailable);
    EXPECT_TRUE(kAvailable.contains(alone));
    EXPECT_LE(std::abs(alone.center().x() - kAvailable.center().x()), 1);
    EXPECT_LE(std::abs(alone.center().y() - kAvailable.center().y()), 1);
}

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(VideoWindowTest, ComesUpAtPlayBesideThePlayerAndLeavesTheKeysWhereTheyWere) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string clip = mediamaker::Make(tmp.path().toStdString(), "avi", 2.0, "clip");
    ASSERT_FALSE(clip.empty());
    // A main window with a list that has the keys, and the player's buttons.
    QWidget main;
    main.setGeometry(300, 300, 566, 288);
    auto* list = new QLineEdit(&main);
    list->setGeometry(10, 10, 200, 20);
    auto* player = new QWidget(&main);
    player->setGeometry(300, 240, 120, 30);
    main.show();
    main.activateWindow();
    list->setFocus();
    Wait(100);
    platform::VideoWindow::KeepClearOf(player);

    platform::GstMediaDevice::Options o;
    o.audio = platform::GstMediaDevice::Options::Sink::Null;
    platform::GstMediaDevice device(o);
    device.Open(clip);
    Wait(300);
    platform::VideoWindow* window = device.Window();
    ASSERT_NE(window, nullptr);
    // Opened is not playing: no window yet, though its picture is there.
    EXPECT_FALSE(window->isVisible());
    EXPECT_GE(window->FramesShown(), 1);

    device.Play();
    Wait(300);
    ASSERT_TRUE(window->isVisible());
    const QRect shown = window->geometry();
    const QRect buttons(player->mapToGlobal(QPoint(0, 0)), player->size());
    EXPECT_FALSE(shown.intersects(buttons));
    EXPECT_FALSE(shown.intersects(main.frameGeometry()));
    EXPECT_TRUE(window->screen()->availableGeometry().contains(shown));
    // The keys stay with the list.
    EXPECT_TRUE(window->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(QApplication::focusWidget(), list);
    EXPECT_NE(QApplication::activeWindow(), window);

    // Paused and played again, it stays where it is; the next medium comes up only at its
    // own play.
    device.Pause();
    window->move(shown.topLeft() + QPoint(10, 0));
    device.Play();
    EXPECT_EQ(window->pos(), shown.topLeft() + QPoint(10, 0));
    device.Open(clip);
    EXPECT_FALSE(window->isVisible());
    device.Close();
    platform::VideoWindow::KeepClearOf(nullptr);
}

}  // namespace
