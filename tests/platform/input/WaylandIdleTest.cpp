// The compositor's idle notifications on a connection of the program's own: each protocol
// against the scripted compositor of the tests and against sway, and every way they fail.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>

#include "support/DesktopServers.h"
#include "support/WaylandServers.h"
#include "platform/Input.h"
#include "platform/input/Wayland.h"

namespace {

using platform::wayland::IdleWatch;
using testsupport::RunEventsFor;
using testsupport::ScriptedCompositor;

// Short quiet time so that the tests do not wait seconds for idleness.
constexpr unsigned kQuietMs = 200;

// True once the watch reads idle, asked every 50 ms for at most 5 s.
bool BecomesIdle(IdleWatch& watch) {
    for (int i = 0; i < 100; ++i) {
        if (!watch.TakeActivity()) return true;
        RunEventsFor(50);
    }
    return false;
}

class WaylandIdleProtocolTest : public ::testing::TestWithParam<const char*> {};

TEST_P(WaylandIdleProtocolTest, InputResumesQuietReadsIdle) {
    const QString flag = QString::fromLatin1(GetParam());
    ScriptedCompositor compositor({flag});
    ASSERT_TRUE(compositor.Running());
    std::string why;
    auto watch = IdleWatch::Open(compositor.Socket(), &why, kQuietMs);
    ASSERT_TRUE(watch) << why;
    const QString note = compositor.WaitFor(QStringLiteral("NOTIFY "));
    EXPECT_EQ(note, QStringLiteral("NOTIFY %1 %2")
                        .arg(flag == QLatin1String("--ext") ? QLatin1String("ext-idle-notify-v1")
                                                            : QLatin1String("org_kde_kwin_idle"))
                        .arg(kQuietMs));
    EXPECT_STREQ(watch->Protocol(), flag == QLatin1String("--ext") ? "ext-idle-notify-v1" : "org_kde_kwin_idle");
    // Fresh: counts as input until the quiet time has passed once.
    EXPECT_TRUE(watch->TakeActivity());
    ASSERT_FALSE(compositor.WaitFor(QStringLiteral("IDLED")).isEmpty());
    ASSERT_TRUE(BecomesIdle(*watch));
    EXPECT_FALSE(watch->TakeActivity());
    // Input between two queries: seen at the next one even when idle has come back since.
    compositor.Command("input");
    ASSERT_FALSE(compositor.WaitFor(QStringLiteral("RESUMED")).isEmpty());
    ASSERT_FALSE(compositor.WaitFor(QStringLiteral("IDLED")).isEmpty());
    RunEventsFor(50);
    EXPECT_TRUE(watch->TakeActivity());
    EXPECT_FALSE(watch->TakeActivity());
    EXPECT_FALSE(watch->Broken());
}

INSTANTIATE_TEST_SUITE_P(Protocols, WaylandIdleProtocolTest, ::testing::Values("--ext", "--kde"));

TEST(WaylandIdleWatch, TheNewerProtocolIsPreferred) {
    ScriptedCompositor compositor({QStringLiteral("--kde"), QStringLiteral("--ext")});
    ASSERT_TRUE(compositor.Running());
    std::string why;
    auto watch = IdleWatch::Open(compositor.Socket(), &why, kQuietMs);
    ASSERT_TRUE(watch) << why;
    EXPECT_STREQ(watch->Protocol(), "ext-idle-notify-v1");
}

TEST(WaylandIdleWatch, NoCompositorNoProtocolOrNoSeatGiveNoWatchAndSayWhy) {
    std::string why;
    EXPECT_EQ(IdleWatch::Open(std::string(::testing::TempDir()) + "no-compositor-here", &why), nullptr);
    EXPECT_NE(why.find("no Wayland compositor"), std::string::npos) << why;
    {
        ScriptedCompositor bare({QStringLiteral("--activation")});  // as weston 10: no idle protocol
        ASSERT_TRUE(bare.Running());
        EXPECT_EQ(IdleWatch::Open(bare.Socket(), &why), nullptr);
        EXPECT_NE(why.find("offers no idle notification"), std::string::npos) << why;
    }
    {
        ScriptedCompositor seatless({QStringLiteral("--ext"), QStringLiteral("--no-seat")});
        ASSERT_TRUE(seatless.Running());
        EXPECT_EQ(IdleWatch::Open(seatless.Socket(), &why), nullptr);
        EXPECT_NE(why.find("no seat"), std::string::npos) << why;
    }
}

TEST(WaylandIdleWatch, ACompositorThatGoesAwayBreaksTheWatchWithoutInventingInput) {
    for (const char* how : {"drop", "quit"}) {
        SCOPED_TRACE(how);
        ScriptedCompositor compositor({QStringLiteral("--ext")});
        ASSERT_TRUE(compositor.Running());
        std::string why;
        auto watch = IdleWatch::Open(compositor.Socket(), &why, kQuietMs);
        ASSERT_TRUE(watch) << why;
        ASSERT_TRUE(BecomesIdle(*watch));
        compositor.Command(how);
        for (int i = 0; i < 100 && !watch->Broken(); ++i) {
            RunEventsFor(50);
            watch->TakeActivity();
        }
        EXPECT_TRUE(watch->Broken());
        EXPECT_FALSE(watch->TakeActivity());
    }
}

// The key state the idle check uses on a Wayland session.
class SessionIdleOnWayland : public ::testing::Test {
protected:
    QDBusConnection Bus() { return QDBusConnection::connectToBus(bus.Address(), QStringLiteral("tessaly-wl-idle")); }
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("tessaly-wl-idle")); }
    static bool AnyKey(platform::KeyState& keys) {
        bool any = false;
        for (int vk : {65, 90, 37, 48, 32}) any = keys.GetAsyncKeyState(vk) != 0 || any;
        return any;
    }
    testsupport::PrivateBus bus;
};

TEST_F(SessionIdleOnWayland, TheCompositorComesBeforeTheBusAndTheBusTakesOverWhenItGoes) {
    testsupport::IdleService service(bus.Address(), QStringLiteral("screensaver"));
    ASSERT_TRUE(service.Ready());
    ScriptedCompositor compositor({QStringLiteral("--kde")});
    ASSERT_TRUE(compositor.Running());
    platform::SessionIdleKeyState keys(Bus(), compositor.Socket());
    EXPECT_EQ(keys.Source(), QStringLiteral("org_kde_kwin_idle"));
    ASSERT_FALSE(compositor.WaitFor(QStringLiteral("IDLED"), 10000).isEmpty());
    RunEventsFor(50);
    AnyKey(keys);  // the fresh notification's first answer
    EXPECT_FALSE(AnyKey(keys));
    compositor.Command("input");
    ASSERT_FALSE(compositor.WaitFor(QStringLiteral("RESUMED")).isEmpty());
    RunEventsFor(50);
    EXPECT_TRUE(AnyKey(keys));
    // Failure twin: the compositor goes; the session bus answers from then on.
    compositor.Command("quit");
    for (int i = 0; i < 100 && keys.Source() != QLatin1String("org.freedesktop.ScreenSaver"); ++i) {
        AnyKey(keys);
        testsupport::WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 100);
    }
    EXPECT_EQ(keys.Source(), QStringLiteral("org.freedesktop.ScreenSaver"));
    EXPECT_FALSE(keys.GaveUp());
}

TEST_F(SessionIdleOnWayland, NothingAnswersSaysSoOnceAndWhatComesLaterIsUsed) {
    const std::string later = std::string(::testing::TempDir()) + "later-compositor";
    testing::internal::CaptureStderr();
    {
        // Nothing at first: neither compositor nor service; tried again every 300 ms here.
        platform::SessionIdleKeyState keys(Bus(), "/nonexistent/wayland-9", std::chrono::milliseconds(300));
        for (int i = 0; i < 4 && !keys.GaveUp(); ++i)
            testsupport::WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 10000);
        EXPECT_TRUE(keys.GaveUp());
        EXPECT_TRUE(keys.Source().isEmpty());
        // Only the program's own keys count meanwhile.
        EXPECT_FALSE(AnyKey(keys));
        QWidget w;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
        QApplication::sendEvent(&w, &press);
        EXPECT_NE(keys.GetAsyncKeyState(32), 0);
        // A service that starts later is found at a retry, and no second message comes.
        testsupport::IdleService service(bus.Address(), QStringLiteral("mutter"));
        ASSERT_TRUE(service.Ready());
        for (int i = 0; i < 100 && keys.Source().isEmpty(); ++i) {
            AnyKey(keys);
            testsupport::WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 100);
        }
        EXPECT_EQ(keys.Source(), QStringLiteral("org.gnome.Mutter.IdleMonitor"));
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("no Wayland compositor"), std::string::npos) << err;
    EXPECT_NE(err.find("org.freedesktop.ScreenSaver"), std::string::npos) << err;
}

TEST_F(SessionIdleOnWayland, ACompositorThatStartsLaterIsUsed) {
    testsupport::RuntimeDir runtime;
    ASSERT_TRUE(runtime.Valid());
    const std::string socket = runtime.Path().toStdString() + "/wayland-later";
    testing::internal::CaptureStderr();
    {
        platform::SessionIdleKeyState keys(Bus(), socket, std::chrono::milliseconds(300));
        for (int i = 0; i < 4 && !keys.GaveUp(); ++i)
            testsupport::WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 10000);
        ASSERT_TRUE(keys.GaveUp());
        ScriptedCompositor compositor({QStringLiteral("--ext"), QStringLiteral("--socket"), QStringLiteral("wayland-later")},
                                      runtime.Path());
        ASSERT_TRUE(compositor.Running());
        ASSERT_EQ(compositor.Socket(), socket);
        for (int i = 0; i < 100 && keys.Source().isEmpty(); ++i) {
            AnyKey(keys);
            RunEventsFor(50);
        }
        EXPECT_EQ(keys.Source(), QStringLiteral("ext-idle-notify-v1"));
        EXPECT_FALSE(keys.GaveUp());
        EXPECT_FALSE(compositor.WaitFor(QStringLiteral("NOTIFY ext-idle-notify-v1 1000")).isEmpty());
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
