#pragma once
// Wayland compositors that the tests start for themselves: the scripted one of the tests
// (idle notifications and activation tokens on command), and sway with its headless back end
// as an ordinary user, typed on through the virtual keyboard as another program would.
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <string>

namespace testsupport {

// A runtime folder that the compositor's user owns.
class RuntimeDir {
public:
    explicit RuntimeDir(bool forNobody = false);
    QString Path() const { return dir_.path(); }
    bool Valid() const { return valid_; }

private:
    QTemporaryDir dir_;
    bool valid_ = false;
};

class ScriptedCompositor {
public:
    // Flags of wayland_test_server: "--ext", "--kde", "--activation", "--no-seat",
    // "--socket NAME"; `runtimeDir`: the folder of its socket (empty: one of its own).
    explicit ScriptedCompositor(const QStringList& flags, const QString& runtimeDir = {});
    ~ScriptedCompositor();
    bool Running() const { return !socket_.empty(); }
    // The absolute path of its socket, as WAYLAND_DISPLAY takes it.
    const std::string& Socket() const { return socket_; }
    void Command(const char* line);
    // Waits (in the event loop, at most `ms`) until it reported a line starting with `prefix`
    // since the last call that found one; returns that line, or empty.
    QString WaitFor(const QString& prefix, int ms = 10000);

private:
    RuntimeDir runtime_;
    QString runtimePath_;
    QProcess process_;
    std::string socket_;
    QStringList lines_;
    QString partial_;
};

// sway 1.7, headless, run as nobody (it refuses root), with an empty configuration.
class HeadlessSway {
public:
    HeadlessSway();
    ~HeadlessSway();
    bool Running() const { return !socket_.empty(); }
    const std::string& Socket() const { return socket_; }
    QString RuntimePath() const { return runtime_.Path(); }
    // Types `text` through the virtual keyboard (wtype) into whatever has the focus; true
    // when wtype ran.
    bool Type(const QString& text);
    // Runs swaymsg with the arguments; its standard output.
    QString Message(const QStringList& args);

private:
    RuntimeDir runtime_;
    QProcess process_;
    std::string socket_;
};

}  // namespace testsupport
