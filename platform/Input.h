#pragma once
// Keyboard state for the idle check (GetAsyncKeyState); the cursor comes from Desktop.
#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <bitset>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QDBusPendingCallWatcher;

namespace platform {

class KeyState {
public:
    virtual ~KeyState() = default;
    // Non-zero when the virtual key is down now or was pressed since the previous query.
    virtual short GetAsyncKeyState(int virtualKey) = 0;
};

// Virtual-key code of a Qt key for the keys the idle check watches (letters, digits,
// arrows, space); 0 for any other key.
int VirtualKeyOfQtKey(int qtKey);

// The watched keys that the application's own windows received, each kept until it is taken.
class AppKeyRecord : public QObject {
public:
    AppKeyRecord();
    // True once for a key pressed since the last call for that key.
    bool Take(int virtualKey);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::bitset<256> pressed_;
};

// The X server's snapshot of held keys (XQueryKeymap on the display Qt uses) joined with the
// application's own record. Keys typed into other programs between two queries are missed:
// this is what remains where no desktop-wide source is available.
class X11KeyState : public KeyState {
public:
    short GetAsyncKeyState(int virtualKey) override;

private:
    AppKeyRecord record_;
    char keymap_[32] = {};
    std::chrono::steady_clock::time_point keymapTime_{};
};

namespace x11 {
class KeyWatch;
}

// Every program's keys on an X display: raw key presses of all clients (XInput 2) read on a
// connection of its own, the keys held now, and the application's own record.
class X11DesktopKeyState : public KeyState {
public:
    // Null, with the reason in `why`, when the display does not open or has no XInput 2.
    static std::unique_ptr<X11DesktopKeyState> Open(const std::string& displayName, std::string* why);
    ~X11DesktopKeyState() override;
    short GetAsyncKeyState(int virtualKey) override;

private:
    explicit X11DesktopKeyState(std::unique_ptr<x11::KeyWatch> watch);
    std::unique_ptr<x11::KeyWatch> watch_;
    AppKeyRecord record_;
    std::bitset<256> down_;
    std::bitset<256> pressed_;
    std::chrono::steady_clock::time_point readTime_{};
};

namespace wayland {
class IdleWatch;
}

// On a Wayland session the display server shows no other program's keys: the compositor
// tells when input came (its idle notifications, on a connection of our own), else the
// session bus tells how long the user has been idle. Any input since the previous query,
// keys the idle check does not watch and pointer moves included, reads as a pressed key.
// A D-Bus question goes out without blocking at each query, so its answer counts at the
// query after it arrives. Sources that fail are tried again at most every `retry`, so a
// compositor or service that comes later is used.
class SessionIdleKeyState : public QObject, public KeyState {
    Q_OBJECT
public:
    // `bus` is the session bus, or a test's private bus; `waylandDisplay` the compositor
    // (empty: none is asked).
    explicit SessionIdleKeyState(const QDBusConnection& bus, std::string waylandDisplay = {},
                                 std::chrono::milliseconds retry = std::chrono::seconds(30));
    ~SessionIdleKeyState() override;
    short GetAsyncKeyState(int virtualKey) override;
    // What answers: the Wayland protocol or the D-Bus service; empty before the first answer
    // and while none does.
    QString Source() const;
    // True while no source answers: only the application's own keys count then.
    bool GaveUp() const { return gaveUp_; }

signals:
    // An answer or a failure of the last question was handled.
    void Answered();

private:
    void Ask();
    void OnReply(QDBusPendingCallWatcher* call);
    void GiveUp(const QString& why);
    void TryAgain();
    void OpenCompositor();

    QDBusConnection bus_;
    std::string waylandDisplay_;
    std::chrono::milliseconds retry_;
    std::unique_ptr<wayland::IdleWatch> compositor_;
    std::string compositorWhy_;
    std::chrono::steady_clock::time_point lastTry_{};
    bool said_ = false;
    AppKeyRecord record_;
    size_t source_ = 0;
    bool sourceWorks_ = false;
    bool gaveUp_ = false;
    QDBusPendingCallWatcher* inFlight_ = nullptr;
    std::chrono::steady_clock::time_point sent_{};
    bool haveSample_ = false;
    long long lastIdleMs_ = 0;
    std::chrono::steady_clock::time_point lastReceived_{};
    bool activity_ = false;
};

// Whether two idle-time answers show input between them: with no input, the idle time grows
// by the time between the two samples, and that is at least the time from receiving the
// first answer to sending the second question. A few milliseconds of rounding are allowed.
bool IdleTimeShowsInput(long long previousIdleMs, long long idleMs, long long sendGapMs);

enum class InputSource { X11Desktop, SessionIdle };

// The desktop-wide key sources to try, best first, for Qt's platform plugin, an X display and
// a Wayland session. The session decides, not the platform: on a Wayland session the X
// server (Xwayland) sees only X programs' keys, so the compositor is asked even when the
// program itself talks X.
std::vector<InputSource> InputSourceOrder(std::string_view qtPlatform, bool haveXDisplay, bool haveWaylandDisplay);

// The key state for the running program; says once on standard error when only the
// application's own keys (and, under X11, keys held at a query) can be seen.
std::unique_ptr<KeyState> MakeSystemKeyState();

// A key state made by `make` at its first query or at Make(), whichever comes first: the
// program's start then does not wait for the X input setup (a connection of its own, the
// keyboard map), which the idle check needs only a second later.
class DeferredKeyState : public KeyState {
public:
    explicit DeferredKeyState(std::function<std::unique_ptr<KeyState>()> make) : make_(std::move(make)) {}
    short GetAsyncKeyState(int virtualKey) override;
    // Makes the key state now, if not made yet.
    KeyState& Make();

private:
    std::function<std::unique_ptr<KeyState>()> make_;
    std::unique_ptr<KeyState> made_;
};

// MakeSystemKeyState(), deferred.
std::unique_ptr<DeferredKeyState> MakeDeferredSystemKeyState();

// The X11 side, kept apart from Qt's headers (Xlib's macros clash with Qt's names).
namespace x11 {
// True and the 32-byte key vector when Qt runs on an X11 display.
bool QueryKeymap(char keys[32]);
// True when the key of the virtual-key code is down in the key vector.
bool KeyDown(const char keys[32], int virtualKey);
// True and the pointer's position on the screen when Qt runs on an X11 display.
bool QueryPointer(QPoint& pos);
// The name of the X display Qt runs on; empty when Qt does not run on X11.
std::string QtDisplayName();

// A private connection that sees the raw key presses of every client.
class KeyWatch {
public:
    static std::unique_ptr<KeyWatch> Open(const std::string& displayName, std::string* why);
    ~KeyWatch();
    // Sets in `down` the watched keys held now (by virtual-key code) and adds to `pressed`
    // those pressed since the previous read.
    void Read(std::bitset<256>& down, std::bitset<256>& pressed);

private:
    struct Impl;
    explicit KeyWatch(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
}  // namespace x11

}  // namespace platform
