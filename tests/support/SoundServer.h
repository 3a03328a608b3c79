#pragma once
// Sound servers of the test's own (PulseAudio, and PipeWire with its Pulse server), each with
// one null sink "out" whose monitor the test records; and a capture of the process's
// standard error.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <sys/stat.h>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/WaitUntil.h"

namespace soundserver {

using testwait::WaitUntil;

// Waits in the event loop for `ms`: what a measurement of sound over time needs.
inline void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs a tool to its end (at most 5 s) with `env`; true on exit code 0.
inline bool RunTool(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                    QString* output = nullptr) {
    QProcess p;
    p.setProcessEnvironment(env);
    if (!output) p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (output) *output = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A server of the test's own with a null sink "out" (44.1 kHz stereo) that clients reach
// through the Pulse protocol at Address(); its monitor is recorded.
class SoundServer {
public:
    explicit SoundServer(const QString& dir) : dir_(dir) {}
    virtual ~SoundServer() = default;
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    virtual const char* Name() const = 0;
    // What clients set PULSE_SERVER to.
    virtual QString Address() const = 0;
    // Starts the server (again) and waits (at most 15 s) until it answers.
    virtual bool Start() = 0;
    // Ends the server (the clients see their connection end).
    virtual void Stop() = 0;

    // Records the sink's monitor as interleaved stereo float into the test's folder.
    bool StartRecording() {
        StopRecording();
        recording_ = dir_ + QStringLiteral("/monitor.raw");
        QFile::remove(recording_);
        recorder_ = std::make_unique<QProcess>();
        recorder_->setStandardOutputFile(recording_);
        recorder_->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        recorder_->start(QStringLiteral("parec"),
                         {QStringLiteral("--server=") + Address(), QStringLiteral("-d"), QStringLiteral("out.monitor"),
                          QStringLiteral("--raw"), QStringLiteral("--format=float32le"), QStringLiteral("--rate=44100"),
                          QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=20")});
        if (!recorder_->waitForStarted(5000)) return false;
        // Streaming before the player starts. A fresh null sink renders its first block at its
        // widest latency (up to 2 s) before it follows the recorder's 20 ms, so until the first
        // frames arrive neither a player's start nor the file's size keeps time; a server a
        // session has run for a while is past that.
        WaitUntil([&] { return recorder_->state() != QProcess::Running || RecordedFrames() > 0; }, 3000, 50);
        // And the next frames after it: the sink has gone over to the recorder's short blocks.
        const std::size_t first = RecordedFrames();
        WaitUntil([&] { return recorder_->state() != QProcess::Running || RecordedFrames() > first; }, 3000, 10);
        return recorder_->state() == QProcess::Running && RecordedFrames() > first;
    }

    // Waits until the recording holds sound followed by a tenth of a second of silence: what
    // was played has come through the sink whole.
    bool WaitSoundEnded(int limitMs) {
        return WaitUntil(
            [&] {
                QFile file(recording_);
                if (!file.open(QIODevice::ReadOnly)) return false;
                const QByteArray bytes = file.readAll();
                const auto* samples = reinterpret_cast<const float*>(bytes.constData());
                const qsizetype count = bytes.size() / qsizetype(sizeof(float));
                qsizetype last = -1;
                for (qsizetype i = 0; i < count; ++i)
                    if (std::fabs(samples[i]) > 1e-4f) last = i;
                return last >= 0 && count - last > 2 * 44100 / 10;
            },
            limitMs, 50);
    }

    // Frames recorded so far: a mark in the recording for what happens now (the recorder
    // writes every 20 ms).
    std::size_t RecordedFrames() const {
        QFileInfo info(recording_);
        return static_cast<std::size_t>(info.size()) / (2 * sizeof(float));
    }

    // Stops the recorder; the recorded frames, left and right interleaved.
    std::vector<float> StopRecording() {
        std::vector<float> samples;
        if (!recorder_) return samples;
        recorder_->terminate();
        if (!recorder_->waitForFinished(5000)) {
            recorder_->kill();
            recorder_->waitForFinished(5000);
        }
        recorder_.reset();
        std::ifstream in(recording_.toStdString(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string bytes = ss.str();
        samples.resize(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        return samples;
    }

protected:
    bool Answers() { return RunTool(QStringLiteral("pactl"), {QStringLiteral("--server=") + Address(), QStringLiteral("info")}); }

    // Starts `program` with `env`, its output into `log`; it goes with the test process.
    std::unique_ptr<QProcess> Launch(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                                     const QString& log) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setStandardOutputFile(dir_ + QLatin1Char('/') + log, QIODevice::Append);
        p->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        p->start(program, args);
        if (!p->waitForStarted(5000)) return nullptr;
        return p;
    }

    static void End(std::unique_ptr<QProcess>& p) {
        if (!p) return;
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        p.reset();
    }

    QString dir_;
    QString recording_;
    std::unique_ptr<QProcess> recorder_;
};

// PulseAudio itself.
class PulseServer : public SoundServer {
public:
    explicit PulseServer(const QString& dir) : SoundServer(dir) {}
    ~PulseServer() override { Stop(); }
    const char* Name() const override { return "PulseAudio"; }
    QString Address() const override { return QStringLiteral("unix:") + dir_ + QStringLiteral("/native"); }

    bool Start() override {
        Stop();
        {
            std::ofstream script((dir_ + QStringLiteral("/server.pa")).toStdString());
            script << "load-module module-null-sink sink_name=out rate=44100 channels=2\n"
                   << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << (dir_ + QStringLiteral("/native")).toStdString() << "\n";
        }
        for (const char* sub : {"/home", "/run", "/state"}) QDir().mkpath(dir_ + QLatin1String(sub));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir_ + QStringLiteral("/home"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_ + QStringLiteral("/run"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_ + QStringLiteral("/home"));
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir_ + QStringLiteral("/run"));
        env.insert(QStringLiteral("PULSE_STATE_PATH"), dir_ + QStringLiteral("/state"));
        env.remove(QStringLiteral("PULSE_SERVER"));
        env.remove(QStringLiteral("DISPLAY"));
        server_ = Launch(QStringLiteral("pulseaudio"),
                         {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--system=no"),
                          QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                          QStringLiteral("--disable-shm=yes"), QStringLiteral("--log-target=stderr"),
                          QStringLiteral("-F"), dir_ + QStringLiteral("/server.pa")},
                         env, QStringLiteral("server.log"));
        if (!server_) return false;
        for (int i = 0; i < 150; ++i) {
            if (server_->state() != QProcess::Running) return false;
            if (Answers()) return true;
            Wait(100);
        }
        return false;
    }

    void Stop() override {
        StopRecording();
        End(server_);
    }

private:
    std::unique_ptr<QProcess> server_;
};

// PipeWire with its Pulse server and session manager, as desktops run it, headless and as
// any user (root included): a private runtime folder and session bus (the session manager
// will not run without one), and the null sink loaded through the Pulse protocol.
class PipeWireServer : public SoundServer {
public:
    explicit PipeWireServer(const QString& dir) : SoundServer(dir) {}
    ~PipeWireServer() override { Stop(); }
    const char* Name() const override { return "PipeWire"; }
    QString Address() const override { return QStringLiteral("unix:") + Runtime() + QStringLiteral("/pulse/native"); }

    bool Start() override {
        Stop();
        for (const char* sub : {"/pw/run", "/pw/home", "/pw/config"}) QDir().mkpath(dir_ + QLatin1String(sub));
        ::chmod((dir_ + QStringLiteral("/pw/run")).toUtf8().constData(), 0700);
        // What a stopped server left behind would pass for the new one's answers.
        for (const char* stale : {"/bus", "/pipewire-0", "/pipewire-0.lock", "/pulse/native", "/pulse/pid"})
            QFile::remove(Runtime() + QLatin1String(stale));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir_ + QStringLiteral("/pw/home"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_ + QStringLiteral("/pw/config"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir_ + QStringLiteral("/pw/home"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + Runtime() + QStringLiteral("/bus"));
        for (const char* name : {"PULSE_SERVER", "DISPLAY", "WAYLAND_DISPLAY", "PIPEWIRE_REMOTE"}) env.remove(QLatin1String(name));
        bus_ = Launch(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                       QStringLiteral("--address=unix:path=") + Runtime() + QStringLiteral("/bus")},
                      env, QStringLiteral("pw.log"));
        if (!bus_ || !WaitFor([&] { return QFileInfo::exists(Runtime() + QStringLiteral("/bus")); })) return false;
        core_ = Launch(QStringLiteral("pipewire"), {}, env, QStringLiteral("pw.log"));
        if (!core_ || !WaitFor([&] { return QFileInfo::exists(Runtime() + QStringLiteral("/pipewire-0")); })) return false;
        session_ = Launch(QStringLiteral("wireplumber"), {}, env, QStringLiteral("pw.log"));
        pulse_ = Launch(QStringLiteral("pipewire-pulse"), {}, env, QStringLiteral("pw.log"));
        if (!session_ || !pulse_ || !WaitFor([&] { return Answers(); })) return false;
        const QString server = QStringLiteral("--server=") + Address();
        if (!RunTool(QStringLiteral("pactl"), {server, QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                               QStringLiteral("sink_name=out"), QStringLiteral("rate=44100"), QStringLiteral("channels=2")}))
            return false;
        // Streams play once the session manager has made the sink the default one.
        return WaitFor([&] {
            QString info;
            RunTool(QStringLiteral("pactl"), {server, QStringLiteral("info")}, QProcessEnvironment::systemEnvironment(), &info);
            return info.contains(QStringLiteral("Default Sink: out"));
        });
    }

    void Stop() override {
        StopRecording();
        End(pulse_);
        End(session_);
        End(core_);
        End(bus_);
    }

private:
    QString Runtime() const { return dir_ + QStringLiteral("/pw/run"); }
    template <class Condition>
    bool WaitFor(Condition ready) {
        for (int i = 0; i < 150; ++i) {
            if (ready()) return true;
            Wait(100);
        }
        return false;
    }
    std::unique_ptr<QProcess> bus_, core_, session_, pulse_;
};

// The server of a kind, by name: "PulseAudio" or "PipeWire".
inline std::unique_ptr<SoundServer> MakeServer(const std::string& kind, const QString& dir) {
    if (kind == "PipeWire") return std::make_unique<PipeWireServer>(dir);
    return std::make_unique<PulseServer>(dir);
}

// Seconds from `mark` to the first frame of `samples` louder than `threshold` (-1: none).
inline double OnsetAfter(const std::vector<float>& samples, std::size_t mark, float threshold = 0.01f) {
    for (std::size_t i = 2 * mark; i + 1 < samples.size(); i += 2)
        if (std::fabs(samples[i]) > threshold || std::fabs(samples[i + 1]) > threshold) return double(i / 2 - mark) / 44100.0;
    return -1;
}

// Seconds from `mark` to the first 10 ms whose peak stays below `threshold` (-1: none).
inline double QuietAfter(const std::vector<float>& samples, std::size_t mark, float threshold) {
    const std::size_t block = 441;
    for (std::size_t f = mark; 2 * (f + block) <= samples.size(); f += block / 4) {
        float peak = 0;
        for (std::size_t i = 2 * f; i < 2 * (f + block); ++i) peak = std::max(peak, std::fabs(samples[i]));
        if (peak < threshold) return double(f - mark) / 44100.0;
    }
    return -1;
}

// A sound server that takes connections and never says a word, as a wedged one would. The
// connections close when it is destroyed.
class MuteServer {
public:
    explicit MuteServer(const std::string& socketPath) : path_(socketPath) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        ::unlink(path_.c_str());
        ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd_, 8) == 0;
        if (ok_) thread_ = std::thread([this] { Run(); });
    }
    ~MuteServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        for (int c : clients_) ::close(c);
        if (fd_ >= 0) ::close(fd_);
        ::unlink(path_.c_str());
    }
    MuteServer(const MuteServer&) = delete;
    MuteServer& operator=(const MuteServer&) = delete;
    bool Ok() const { return ok_; }
    std::string Address() const { return "unix:" + path_; }
    int Accepted() const { return accepted_.load(); }

private:
    void Run() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    clients_.push_back(c);
                    ++accepted_;
                }
            }
        }
    }
    std::string path_;
    int fd_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::vector<int> clients_;
    std::thread thread_;
};

// Peak of each channel of interleaved stereo samples, in dB of full scale.
inline std::pair<double, double> PeakDb(const std::vector<float>& s) {
    double left = 0, right = 0;
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        left = std::max(left, std::fabs(double(s[i])));
        right = std::max(right, std::fabs(double(s[i + 1])));
    }
    auto db = [](double v) { return v > 0 ? 20 * std::log10(v) : -200.0; };
    return {db(left), db(right)};
}

// Everything the process writes to its standard error while alive.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& file) : file_(file) {
        std::fflush(stderr);
        saved_ = dup(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { Restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string Text() {
        Restore();
        std::ifstream in(file_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    std::string file_;
    int saved_ = -1;
};

}  // namespace soundserver
