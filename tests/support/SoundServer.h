#pragma once
// A PulseAudio server of the test's own on a Unix socket in the test's folder, with one null
// sink "out" whose monitor the test records; and a capture of the process's standard error.
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

class PulseServer {
public:
    explicit PulseServer(const QString& dir) : dir_(dir) {}
    ~PulseServer() { Stop(); }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // What clients set PULSE_SERVER to.
    QString Address() const { return QStringLiteral("unix:") + dir_ + QStringLiteral("/native"); }

    // Starts the server and waits (at most 15 s) until it answers.
    bool Start() {
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
        server_ = std::make_unique<QProcess>();
        server_->setProcessEnvironment(env);
        server_->setProcessChannelMode(QProcess::MergedChannels);
        server_->setStandardOutputFile(dir_ + QStringLiteral("/server.log"), QIODevice::Append);
        // Goes with the test process, should that die first.
        server_->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        server_->start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--system=no"),
                        QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                        QStringLiteral("--disable-shm=yes"), QStringLiteral("--log-target=stderr"),
                        QStringLiteral("-F"), dir_ + QStringLiteral("/server.pa")});
        if (!server_->waitForStarted(5000)) return false;
        bool answers = false;
        WaitUntil(
            [&] {
                answers = server_->state() == QProcess::Running && Tool(QStringLiteral("pactl"), {QStringLiteral("info")});
                return answers || server_->state() != QProcess::Running;
            },
            15000, 100);
        return answers;
    }

    // Ends the server (the clients see their connection end).
    void Stop() {
        StopRecording();
        if (!server_) return;
        if (server_->state() != QProcess::NotRunning) {
            server_->terminate();
            if (!server_->waitForFinished(5000)) {
                server_->kill();
                server_->waitForFinished(5000);
            }
        }
        server_.reset();
    }

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
        // Connected and streaming (the sink's silence arrives) before the player starts.
        WaitUntil([&] { return recorder_->state() != QProcess::Running || QFileInfo(recording_).size() > 0; }, 5000);
        return recorder_->state() == QProcess::Running && QFileInfo(recording_).size() > 0;
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

private:
    bool Tool(const QString& program, QStringList args) {
        QProcess p;
        args.prepend(QStringLiteral("--server=") + Address());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(program, args);
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished();
            return false;
        }
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QString dir_;
    QString recording_;
    std::unique_ptr<QProcess> server_;
    std::unique_ptr<QProcess> recorder_;
};

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
