// Qt's headers first: Xlib's macros would break them.
#include "support/DesktopServers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <csignal>
#include <sys/prctl.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace testsupport {

namespace {
// Long enough for a loaded machine, short enough that a stuck start fails the test soon.
constexpr int kStartMs = 15000;

// The first line the child writes on its standard output.
QByteArray FirstLine(QProcess& p) {
    QByteArray line;
    while (!line.contains('\n') && p.state() != QProcess::NotRunning && p.waitForReadyRead(kStartMs))
        line += p.readAllStandardOutput();
    return line.trimmed();
}

// A test process that dies leaves no server behind: the child ends with it.
void EndWithTheTest(QProcess& p) {
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void Stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}
}  // namespace

XvfbServer::XvfbServer(const QString& screen, Reset reset) {
    // -displayfd 1: the server picks a free display and writes its number on standard output.
    // -noreset: a test's clients leaving must not restart the server under the next test.
    EndWithTheTest(process_);
    QStringList args{QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                     QStringLiteral("-screen"), QStringLiteral("0"), screen};
    if (reset == Reset::Never) args << QStringLiteral("-noreset");
    process_.start(QStringLiteral("/usr/bin/Xvfb"), args);
    if (!process_.waitForStarted(kStartMs)) return;
    QByteArray number = FirstLine(process_);
    bool ok = false;
    number.toInt(&ok);
    if (ok) name_ = ":" + number.toStdString();
}

XvfbServer::~XvfbServer() { Stop(process_); }

struct XTestKeyboard::Impl {
    Display* display = nullptr;
    KeyCode Code(const char* name) const {
        KeySym sym = XStringToKeysym(name);
        return sym == NoSymbol ? 0 : XKeysymToKeycode(display, sym);
    }
};

XTestKeyboard::XTestKeyboard(const std::string& displayName) : impl_(std::make_unique<Impl>()) {
    impl_->display = XOpenDisplay(displayName.c_str());
}

XTestKeyboard::~XTestKeyboard() {
    if (impl_->display) XCloseDisplay(impl_->display);
}

bool XTestKeyboard::Open() const { return impl_->display != nullptr; }

void XTestKeyboard::Press(const char* name, bool down) { PressCode(impl_->Code(name), down); }

void XTestKeyboard::PressCode(int code, bool down) {
    if (code <= 0) return;
    XTestFakeKeyEvent(impl_->display, static_cast<unsigned>(code), down ? True : False, CurrentTime);
    XSync(impl_->display, False);
}

int XTestKeyboard::CodeOf(const char* name) const { return impl_->Code(name); }

void XTestKeyboard::Tap(const char* name) {
    Press(name, true);
    Press(name, false);
}

void XTestKeyboard::Remap(int code, const char* to) {
    KeySym sym = XStringToKeysym(to);
    if (!code || sym == NoSymbol) return;
    KeySym syms[2] = {sym, sym};
    XChangeKeyboardMapping(impl_->display, code, 2, syms, 1);
    XSync(impl_->display, False);
}

PrivateBus::PrivateBus() {
    if (!dir_.isValid()) return;
    const QString config = dir_.filePath(QStringLiteral("bus.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) return;
    f.write(("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
             "<busconfig><type>session</type><listen>unix:path=" +
             dir_.filePath(QStringLiteral("bus")).toUtf8() +
             "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
             "<allow own=\"*\"/></policy></busconfig>\n"));
    f.close();
    EndWithTheTest(process_);
    process_.start(QStringLiteral("/usr/bin/dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
    if (!process_.waitForStarted(kStartMs)) return;
    address_ = QString::fromUtf8(FirstLine(process_));
}

PrivateBus::~PrivateBus() { Stop(process_); }

IdleService::IdleService(const QString& address, const QString& names, const QString& reply) : address_(address) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithTheTest(process_);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(TESSALY_SOURCE_DIR "/tests/support/idle_service.py"), address, names, reply});
    if (!process_.waitForStarted(kStartMs)) return;
    ready_ = FirstLine(process_) == "READY";
}

IdleService::~IdleService() {
    process_.closeWriteChannel();
    Stop(process_);
}

void IdleService::Reset() {
    QDBusConnection bus = QDBusConnection::connectToBus(address_, QStringLiteral("tessaly-test-control"));
    bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.tessaly.TestIdle"), QStringLiteral("/control"),
                                            QStringLiteral("org.tessaly.TestIdle"), QStringLiteral("Reset")),
             QDBus::Block, kStartMs);
    QDBusConnection::disconnectFromBus(QStringLiteral("tessaly-test-control"));
}

void RunEventsFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace testsupport
