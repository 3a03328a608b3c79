#pragma once
// Servers that the desktop key tests start for themselves: an X server on a free display,
// another X client that types on it, a private session bus and a scripted idle-time service.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace testsupport {

// Xvfb on the first free display (it picks the number itself and tells it).
class XvfbServer {
public:
    enum class Reset { Never, WhenTheLastClientLeaves };
    // `screen` as Xvfb takes it: width x height x depth.
    explicit XvfbServer(const QString& screen = QStringLiteral("320x240x24"), Reset reset = Reset::Never);
    ~XvfbServer();
    bool Running() const { return !name_.empty(); }
    // ":<n>"
    const std::string& Name() const { return name_; }

private:
    QProcess process_;
    std::string name_;
};

// A second client of the X server that presses keys through XTest, as another program's
// user would.
class XTestKeyboard {
public:
    explicit XTestKeyboard(const std::string& displayName);
    ~XTestKeyboard();
    bool Open() const;
    // Presses and releases the key of the key symbol name ("a", "Left", "F1", …) and waits
    // until the server has handled both.
    void Tap(const char* keysymName);
    void Press(const char* keysymName, bool down);
    void PressCode(int keyCode, bool down);
    // The key code that types the key symbol now; 0 for none.
    int CodeOf(const char* keysymName) const;
    // Makes the key code type `toKeysym` from now on.
    void Remap(int keyCode, const char* toKeysym);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// dbus-daemon with its own configuration and socket in a temporary folder.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    const QString& Address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString address_;
};

// The scripted idle-time service on a bus: owns the given names (comma separated:
// "mutter", "screensaver") and answers `reply` ("ok", "string", "huge"). Reports an idle
// time of one minute, growing; Reset() makes it start again from 0 as input would.
class IdleService {
public:
    IdleService(const QString& address, const QString& names, const QString& reply = QStringLiteral("ok"));
    ~IdleService();
    bool Ready() const { return ready_; }
    void Reset();

private:
    QString address_;
    QProcess process_;
    bool ready_ = false;
};

// Runs the event loop for the given time (timers and sockets go on; nothing spins).
void RunEventsFor(int ms);
// Runs the event loop until `signal` of `sender` fires or the time is up; true when it fired.
template <class Sender, class Signal>
bool WaitForSignal(Sender* sender, Signal signal, int ms);

}  // namespace testsupport

#include <QEventLoop>
#include <QTimer>

template <class Sender, class Signal>
bool testsupport::WaitForSignal(Sender* sender, Signal signal, int ms) {
    QEventLoop loop;
    bool fired = false;
    auto c = QObject::connect(sender, signal, &loop, [&] {
        fired = true;
        loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
    return fired;
}
