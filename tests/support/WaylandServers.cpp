#include "support/WaylandServers.h"

#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <csignal>

namespace testsupport {

namespace {

constexpr int kStartMs = 15000;

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

RuntimeDir::RuntimeDir(bool forNobody) {
    if (!dir_.isValid()) return;
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    valid_ = true;
    if (forNobody && ::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        valid_ = nobody && ::chown(dir_.path().toLocal8Bit().constData(), nobody->pw_uid, nobody->pw_gid) == 0;
    }
}

ScriptedCompositor::ScriptedCompositor(const QStringList& flags, const QString& runtimeDir)
    : runtimePath_(runtimeDir.isEmpty() ? runtime_.Path() : runtimeDir) {
    if (!runtime_.Valid()) return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimePath_);
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithTheTest(process_);
    process_.start(QStringLiteral(TESSALY_BINARY_DIR "/wayland_test_server"), flags);
    if (!process_.waitForStarted(kStartMs)) return;
    const QString ready = WaitFor(QStringLiteral("READY "), kStartMs);
    if (!ready.isEmpty()) socket_ = (runtimePath_ + QLatin1Char('/') + ready.mid(6)).toStdString();
}

ScriptedCompositor::~ScriptedCompositor() {
    process_.closeWriteChannel();
    Stop(process_);
}

void ScriptedCompositor::Command(const char* line) {
    process_.write(QByteArray(line) + '\n');
    process_.waitForBytesWritten(kStartMs);
}

QString ScriptedCompositor::WaitFor(const QString& prefix, int ms) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        partial_ += QString::fromUtf8(process_.readAllStandardOutput());
        int nl;
        while ((nl = partial_.indexOf(QLatin1Char('\n'))) >= 0) {
            lines_ << partial_.left(nl);
            partial_.remove(0, nl + 1);
        }
        for (int i = 0; i < lines_.size(); ++i) {
            if (lines_[i].startsWith(prefix)) {
                const QString found = lines_[i];
                lines_.erase(lines_.begin(), lines_.begin() + i + 1);
                return found;
            }
        }
        const qint64 left = ms - clock.elapsed();
        if (left <= 0 || process_.state() == QProcess::NotRunning) return {};
        // The event loop runs meanwhile: the program under test answers the compositor.
        QEventLoop loop;
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
        QTimer::singleShot(static_cast<int>(left), &loop, &QEventLoop::quit);
        loop.exec();
    }
}

HeadlessSway::HeadlessSway() : runtime_(true) {
    if (!runtime_.Valid()) return;
    const QString config = runtime_.Path() + QStringLiteral("/sway.conf");
    {
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly)) return;
        // No bar, no Xwayland: only what the tests look at.
        f.write("xwayland disable\n");
    }
    QFile::setPermissions(config, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::WriteOwner);
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), runtime_.Path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.Path());
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    EndWithTheTest(process_);
    QStringList args{QStringLiteral("-c"), config};
    if (::geteuid() == 0) {
        // sway refuses to run as root.
        process_.start(QStringLiteral("/usr/bin/setpriv"),
                       QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                   QStringLiteral("--clear-groups"), QStringLiteral("/usr/bin/sway")} +
                           args);
    } else {
        process_.start(QStringLiteral("/usr/bin/sway"), args);
    }
    if (!process_.waitForStarted(kStartMs)) return;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kStartMs && process_.state() == QProcess::Running) {
        const QStringList sockets = QDir(runtime_.Path()).entryList({QStringLiteral("wayland-*")}, QDir::System);
        const QStringList ipc = QDir(runtime_.Path()).entryList({QStringLiteral("sway-ipc.*")}, QDir::System);
        for (const QString& s : sockets)
            if (!s.endsWith(QStringLiteral(".lock")) && !ipc.isEmpty()) {
                socket_ = (runtime_.Path() + QLatin1Char('/') + s).toStdString();
                return;
            }
        process_.waitForReadyRead(100);
        process_.readAll();
    }
}

HeadlessSway::~HeadlessSway() { Stop(process_); }

bool HeadlessSway::Type(const QString& text) {
    QProcess wtype;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromStdString(socket_));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.Path());
    wtype.setProcessEnvironment(env);
    wtype.start(QStringLiteral("/usr/bin/wtype"), {text});
    return wtype.waitForFinished(kStartMs) && wtype.exitCode() == 0;
}

QString HeadlessSway::Message(const QStringList& args) {
    const QStringList ipc = QDir(runtime_.Path()).entryList({QStringLiteral("sway-ipc.*")}, QDir::System);
    if (ipc.isEmpty()) return {};
    QProcess msg;
    msg.start(QStringLiteral("/usr/bin/swaymsg"),
              QStringList{QStringLiteral("-s"), runtime_.Path() + QLatin1Char('/') + ipc.front()} + args);
    msg.waitForFinished(kStartMs);
    return QString::fromUtf8(msg.readAllStandardOutput());
}

}  // namespace testsupport
