// Keys typed into other programs: raw key presses on a real X server from another client, and
// the session's idle time from a scripted service on a private bus.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>

#include "support/DesktopServers.h"
#include "platform/Input.h"

namespace {

using testsupport::IdleService;
using testsupport::PrivateBus;
using testsupport::RunEventsFor;
using testsupport::WaitForSignal;
using testsupport::XTestKeyboard;
using testsupport::XvfbServer;

constexpr int kWatched[] = {65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85,
                            86, 87, 88, 89, 90, 37, 38, 39, 40, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 32};

// The watched keys that read non-zero in one pass over all of them, as an idle check asks.
std::set<int> Scan(platform::KeyState& keys) {
    std::set<int> found;
    for (int vk : kWatched)
        if (keys.GetAsyncKeyState(vk) != 0) found.insert(vk);
    return found;
}

class X11DesktopKeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new XvfbServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(server_->Running());
        typist = std::make_unique<XTestKeyboard>(server_->Name());
        ASSERT_TRUE(typist->Open());
        std::string why;
        keys = platform::X11DesktopKeyState::Open(server_->Name(), &why);
        ASSERT_TRUE(keys) << why;
        EXPECT_EQ(Scan(*keys), std::set<int>{});
    }
    // The next query reads the server again (one read serves a burst of queries).
    static void NextQuery() { RunEventsFor(30); }

    static XvfbServer* server_;
    std::unique_ptr<XTestKeyboard> typist;
    std::unique_ptr<platform::X11DesktopKeyState> keys;
};
XvfbServer* X11DesktopKeysTest::server_ = nullptr;

TEST_F(X11DesktopKeysTest, WatchedKeysTypedIntoAnotherClientCountOnce) {
    const struct {
        const char* sym;
        int vk;
    } cases[] = {{"a", 'A'}, {"z", 'Z'}, {"q", 'Q'}, {"0", '0'}, {"7", '7'}, {"space", 32},
                 {"Left", 37}, {"Up", 38}, {"Right", 39}, {"Down", 40}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sym);
        typist->Tap(c.sym);
        NextQuery();
        EXPECT_EQ(Scan(*keys), std::set<int>{c.vk});
        NextQuery();
        EXPECT_EQ(Scan(*keys), std::set<int>{});  // nothing since the last query
    }
    // A burst of typing between two queries: every key once.
    for (const char* s : {"h", "e", "l", "l", "o"}) typist->Tap(s);
    NextQuery();
    EXPECT_EQ(Scan(*keys), (std::set<int>{'H', 'E', 'L', 'O'}));
}

TEST_F(X11DesktopKeysTest, KeysTheCheckDoesNotWatchCountNothing) {
    for (const char* sym : {"F1", "Return", "Shift_L", "Control_L", "Escape", "KP_1", "Tab", "BackSpace"}) {
        SCOPED_TRACE(sym);
        typist->Tap(sym);
        NextQuery();
        EXPECT_EQ(Scan(*keys), std::set<int>{});
    }
    // Held: an unwatched key stays out while held too.
    typist->Press("Shift_L", true);
    NextQuery();
    EXPECT_EQ(Scan(*keys), std::set<int>{});
    typist->Press("Shift_L", false);
}

TEST_F(X11DesktopKeysTest, HeldKeyReadsDownUntilReleased) {
    typist->Press("b", true);
    NextQuery();
    EXPECT_EQ(static_cast<unsigned short>(keys->GetAsyncKeyState('B')), 0x8001u);  // down and pressed
    NextQuery();
    EXPECT_EQ(static_cast<unsigned short>(keys->GetAsyncKeyState('B')), 0x8000u);  // still down, no new press
    typist->Press("b", false);
    NextQuery();
    EXPECT_EQ(keys->GetAsyncKeyState('B'), 0);
}

TEST_F(X11DesktopKeysTest, ARemappedKeyCountsByWhatItTypesNow) {
    // F9 is made to type "m": it is watched from then on; "m"'s own key stays "m".
    const int f9 = typist->CodeOf("F9");
    ASSERT_GT(f9, 0);
    auto tapF9 = [&] {
        typist->PressCode(f9, true);
        typist->PressCode(f9, false);
        NextQuery();
    };
    tapF9();
    EXPECT_EQ(Scan(*keys), std::set<int>{});
    typist->Remap(f9, "m");
    tapF9();
    EXPECT_EQ(Scan(*keys), std::set<int>{'M'});
    typist->Remap(f9, "F9");
    tapF9();
    EXPECT_EQ(Scan(*keys), std::set<int>{});
}

TEST_F(X11DesktopKeysTest, KeysOfTheProgramsOwnWindowsStillCountOnce) {
    QWidget w;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    EXPECT_EQ(Scan(*keys), std::set<int>{'K'});
    NextQuery();
    EXPECT_EQ(Scan(*keys), std::set<int>{});
}

// The program's choice under the offscreen platform, by the display variables it finds.
TEST_F(X11DesktopKeysTest, SystemKeyStateByDisplayVariables) {
    auto env = [](const char* name) -> std::optional<std::string> {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto savedDisplay = env("DISPLAY"), savedWayland = env("WAYLAND_DISPLAY");
    const struct {
        const char* display;  // null: unset
        bool desktopKeys;
        const char* said;  // on standard error; null: nothing
    } cases[] = {
        {server_->Name().c_str(), true, nullptr},
        {":65000", false, "does not open"},
        {nullptr, false, "no X display and no Wayland session"},
    };
    unsetenv("WAYLAND_DISPLAY");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.display ? c.display : "(unset)");
        if (c.display)
            setenv("DISPLAY", c.display, 1);
        else
            unsetenv("DISPLAY");
        testing::internal::CaptureStderr();
        std::unique_ptr<platform::KeyState> made = platform::MakeSystemKeyState();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(dynamic_cast<platform::X11DesktopKeyState*>(made.get()) != nullptr, c.desktopKeys);
        EXPECT_EQ(dynamic_cast<platform::X11KeyState*>(made.get()) != nullptr, !c.desktopKeys);
        if (c.said) {
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
            EXPECT_NE(err.find(c.said), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, "");
        }
        if (c.desktopKeys) {
            typist->Tap("x");
            NextQuery();
            EXPECT_NE(made->GetAsyncKeyState('X'), 0);
        }
    }
    for (const auto& [name, value] : {std::pair{"DISPLAY", savedDisplay}, std::pair{"WAYLAND_DISPLAY", savedWayland}}) {
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
}

TEST(X11DesktopKeysOpenTest, NoDisplayGivesNoWatchAndSaysWhy) {
    std::string why;
    // A display number no server has; nothing is listening on its socket.
    EXPECT_EQ(platform::X11DesktopKeyState::Open(":65000", &why), nullptr);
    EXPECT_NE(why.find("does not open"), std::string::npos) << why;
}

TEST(InputSourceTest, OrderBySessionThenPlatform) {
    using S = platform::InputSource;
    using V = std::vector<S>;
    const struct {
        const char* platform;
        bool x, wayland;
        V order;
    } cases[] = {
        {"xcb", true, false, V{S::X11Desktop}},
        // Under Xwayland Qt talks X, but the X server sees only X programs' keys: the
        // session decides.
        {"xcb", true, true, V{S::SessionIdle}},
        {"xcb", false, false, V{S::X11Desktop}},  // -display given
        {"wayland", true, true, V{S::SessionIdle}},
        {"wayland", false, false, V{S::SessionIdle}},  // -platform wayland, default socket
        {"wayland-egl", false, true, V{S::SessionIdle}},
        {"offscreen", true, false, V{S::X11Desktop}},
        {"offscreen", false, true, V{S::SessionIdle}},
        {"offscreen", true, true, V{S::SessionIdle}},
        {"offscreen", false, false, V{}},
        {"", false, false, V{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.platform) + " x=" + std::to_string(c.x) + " wayland=" + std::to_string(c.wayland));
        EXPECT_EQ(platform::InputSourceOrder(c.platform, c.x, c.wayland), c.order);
    }
}

TEST(SessionIdleRuleTest, InputOnlyWhenTheIdleTimeFallsBehindTheClock) {
    const struct {
        long long before, now, gap;
        bool input;
    } cases[] = {
        {60000, 61000, 1000, false},  // grew with the clock
        {60000, 61500, 1000, false},  // grew by more (the question waited in the bus)
        {60000, 60990, 1000, false},  // rounding
        {60000, 300, 1000, true},     // reset: input 300 ms ago
        {60000, 0, 1000, true},
        {5, 400, 1000, true},         // input again after the previous answer
        {5, 15, 3, false},            // two answers close together, no input between
        {0, 0, 0, false},
        {60000, 60000, -50, false},   // a clock step back never invents input
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + " -> " + std::to_string(c.now) + " after " + std::to_string(c.gap));
        EXPECT_EQ(platform::IdleTimeShowsInput(c.before, c.now, c.gap), c.input);
    }
}

class SessionIdleTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { ASSERT_FALSE(bus.Address().isEmpty()); }
    QDBusConnection Connect() {
        static std::atomic<int> n{0};
        name = QStringLiteral("tessaly-idle-test-%1").arg(++n);
        return QDBusConnection::connectToBus(bus.Address(), name);
    }
    void TearDown() override {
        if (!name.isEmpty()) QDBusConnection::disconnectFromBus(name);
    }
    // Asks once and waits for the answer to be handled; the state read is that of the answer
    // before.
    static short Query(platform::SessionIdleKeyState& keys) {
        short state = keys.GetAsyncKeyState('A');
        EXPECT_TRUE(WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 10000));
        return state;
    }

    PrivateBus bus;
    QString name;
};

TEST_P(SessionIdleTest, ResetIdleTimeIsActivityGrowingIsNot) {
    const QString which = QString::fromLatin1(GetParam());
    IdleService service(bus.Address(), which);
    ASSERT_TRUE(service.Ready());
    platform::SessionIdleKeyState keys(Connect());
    // A service that is not there is passed over for the next one.
    for (int i = 0; i < 3 && keys.Source().isEmpty(); ++i)
        ASSERT_TRUE(WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 10000));
    EXPECT_EQ(keys.Source(), which.startsWith(QLatin1String("mutter")) ? QStringLiteral("org.gnome.Mutter.IdleMonitor")
                                                                       : QStringLiteral("org.freedesktop.ScreenSaver"));
    EXPECT_EQ(Query(keys), 0);  // growing
    EXPECT_EQ(Query(keys), 0);
    service.Reset();
    EXPECT_EQ(Query(keys), 0);  // the answer before the reset
    EXPECT_EQ(Query(keys), 1);  // the reset, once
    EXPECT_EQ(Query(keys), 0);
    // Input again a while after the previous answer: seen again.
    RunEventsFor(150);
    service.Reset();
    EXPECT_EQ(Query(keys), 0);
    EXPECT_EQ(Query(keys), 1);
    EXPECT_FALSE(keys.GaveUp());
}

INSTANTIATE_TEST_SUITE_P(Services, SessionIdleTest, ::testing::Values("mutter", "screensaver", "mutter,screensaver"));

class SessionIdleFailureTest : public SessionIdleTest {};

// No service, or one whose answers make no sense: today's behaviour (the program's own keys
// only), said once on standard error.
TEST_F(SessionIdleFailureTest, NoUsableServiceKeepsTheOwnKeysAndSaysSoOnce) {
    for (const char* reply : {"", "string"}) {
        SCOPED_TRACE(reply);
        std::unique_ptr<IdleService> service;
        if (*reply) {
            service = std::make_unique<IdleService>(bus.Address(), QStringLiteral("mutter,screensaver"),
                                                    QString::fromLatin1(reply));
            ASSERT_TRUE(service->Ready());
        }
        testing::internal::CaptureStderr();
        {
            platform::SessionIdleKeyState keys(Connect());
            for (int i = 0; i < 4 && !keys.GaveUp(); ++i)
                WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 10000);
            EXPECT_TRUE(keys.GaveUp());
            EXPECT_TRUE(keys.Source().isEmpty());
            for (int i = 0; i < 3; ++i) EXPECT_EQ(keys.GetAsyncKeyState('A'), 0);
            QWidget w;
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
            QApplication::sendEvent(&w, &press);
            EXPECT_NE(keys.GetAsyncKeyState(32), 0);
            EXPECT_EQ(keys.GetAsyncKeyState(32), 0);
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("no session idle time"), std::string::npos) << err;
        QDBusConnection::disconnectFromBus(name);
    }
}

// A service that never answers holds no query up; once its questions time out it is given up.
TEST_F(SessionIdleFailureTest, AServiceThatNeverAnswersBlocksNothing) {
    IdleService service(bus.Address(), QStringLiteral("mutter,screensaver"), QStringLiteral("hang"));
    ASSERT_TRUE(service.Ready());
    testing::internal::CaptureStderr();
    {
        platform::SessionIdleKeyState keys(Connect());
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 41; ++i) EXPECT_EQ(keys.GetAsyncKeyState('A'), 0);
        EXPECT_LT(clock.elapsed(), 500);
        for (int i = 0; i < 4 && !keys.GaveUp(); ++i)
            WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 10000);
        EXPECT_TRUE(keys.GaveUp());
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST_F(SessionIdleFailureTest, NoBusAtAllSaysSoOnce) {
    testing::internal::CaptureStderr();
    {
        platform::SessionIdleKeyState keys(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=") + QString::fromStdString(::testing::TempDir()) + QStringLiteral("no-bus-here"),
            QStringLiteral("tessaly-no-bus")));
        EXPECT_TRUE(keys.GaveUp());
        for (int i = 0; i < 3; ++i) EXPECT_EQ(keys.GetAsyncKeyState('A'), 0);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("tessaly-no-bus"));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("no session bus"), std::string::npos) << err;
}

TEST_F(SessionIdleFailureTest, HugeIdleTimesAreNoInputAndNoOverflow) {
    IdleService service(bus.Address(), QStringLiteral("mutter"), QStringLiteral("huge"));
    ASSERT_TRUE(service.Ready());
    platform::SessionIdleKeyState keys(Connect());
    ASSERT_TRUE(WaitForSignal(&keys, &platform::SessionIdleKeyState::Answered, 10000));
    EXPECT_EQ(Query(keys), 0);
    EXPECT_EQ(Query(keys), 0);
    EXPECT_FALSE(keys.GaveUp());
}

}  // namespace
