#pragma once
// A loopback FTP peer whose every reply the test writes. It runs the test's script on its
// own thread with blocking sockets; each blocking step gives up after a few seconds so that
// a broken client cannot hang the suite. Whatever a test may wait for on the GUI thread
// wakes its event loop.
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/SockLayer.h"
#include "platform/Services.h"
#include "tests/fakes/FakeMessageBoxes.h"

namespace testnet {

// Makes a waiting GUI thread look at its flags again (callable from any thread).
inline void WakeGui() {
    if (auto* app = QCoreApplication::instance()) QMetaObject::invokeMethod(app, [] {}, Qt::QueuedConnection);
}

// The test's own temporary folder.
class TempFolder {
public:
    TempFolder() {
        if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
    }
    std::string Path(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }
    std::string Root() const { return dir_.path().toStdString(); }

private:
    QTemporaryDir dir_;
};

// Error boxes are recorded instead of shown for the lifetime of the object.
class RecordedBoxes {
public:
    RecordedBoxes() : old_(std::move(platform::Current().boxes)) {
        auto fake = std::make_unique<platform::FakeMessageBoxes>();
        boxes = fake.get();
        platform::Current().boxes = std::move(fake);
    }
    ~RecordedBoxes() { platform::Current().boxes = std::move(old_); }
    platform::FakeMessageBoxes* boxes;

private:
    std::unique_ptr<platform::MessageBoxes> old_;
};

// Host names resolve from this table only, and never through DNS, while the object lives.
class FakeResolver {
public:
    FakeResolver(std::initializer_list<std::pair<std::string, std::string>> names = {}) {
        std::vector<std::pair<std::string, std::string>> table(names);
        net::SetHostResolver([table = std::move(table)](const std::string& name, std::uint32_t& address) {
            for (const auto& [host, dotted] : table)
                if (host == name) return inet_pton(AF_INET, dotted.c_str(), &address) == 1 ? 0 : 11001;
            return 11001;
        });
    }
    ~FakeResolver() { net::SetHostResolver({}); }
    FakeResolver(const FakeResolver&) = delete;
    FakeResolver& operator=(const FakeResolver&) = delete;
};

inline int ListenLoopback(int backlog = 4) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(fd, backlog) < 0)
        throw std::runtime_error("cannot listen on loopback");
    return fd;
}

inline int LocalPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// Runs the event loop until `done` holds or `ms` pass; false on the time limit. Whatever sets
// what `done` reads must wake the loop (a socket, a timer, or WakeGui from another thread).
template <class P>
bool PumpUntil(P done, int ms = 5000) {
    bool expired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { expired = true; });
    watchdog.start(ms);
    while (!done() && !expired) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

class ScriptServer {
public:
    using Script = std::function<void(ScriptServer&)>;

    explicit ScriptServer(Script script, int connections = 1) : listen_(ListenLoopback()) {
        port_ = LocalPort(listen_);
        thread_ = std::thread([this, script = std::move(script), connections] {
            try {
                for (int i = 0; i < connections; ++i) {
                    control_ = AcceptOn(listen_);
                    script(*this);
                    CloseControl();
                }
            } catch (const std::exception& e) {
                std::lock_guard lock(mutex_);
                error_ = e.what();
            }
            CloseControl();
            CloseData();
            finished_ = true;
            WakeGui();
        });
    }

    ~ScriptServer() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
        if (dataListen_ >= 0) ::close(dataListen_);
    }

    int Port() const { return port_; }
    bool Finished() const { return finished_; }
    std::string Error() {
        std::lock_guard lock(mutex_);
        return error_;
    }
    std::vector<std::string> Commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }

    // --- script steps (server thread) ---
    void Send(const std::string& text) { SendOn(control_, text); }

    // The next command line, without its CR LF.
    std::string ReadLine() {
        std::string line;
        char c;
        for (;;) {
            WaitReadable(control_);
            ssize_t n = ::recv(control_, &c, 1, 0);
            if (n <= 0) throw std::runtime_error("client closed while a command was expected: " + line);
            if (c == '\n') break;
            line += c;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(line);
        }
        WakeGui();
        return line;
    }

    // Reads a command and answers it; the command must match.
    void Expect(const std::string& command, const std::string& reply) {
        std::string got = ReadLine();
        if (got != command) throw std::runtime_error("expected '" + command + "', got '" + got + "'");
        Send(reply);
    }

    // Reads commands until the client closes; returns them.
    void DrainUntilClosed() {
        try {
            for (;;) ReadLine();
        } catch (const std::exception&) {
        }
    }

    // One byte of urgent (out-of-band) data on the control connection.
    void SendUrgent(char c) {
        if (::send(control_, &c, 1, MSG_OOB | MSG_NOSIGNAL) != 1) throw std::runtime_error("urgent send failed");
    }
    // Ends the control connection with a reset instead of a close.
    void ResetControl() {
        linger l{1, 0};
        setsockopt(control_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        CloseControl();
    }
    void CloseControl() {
        if (control_ >= 0) ::close(control_);
        control_ = -1;
    }

    int OpenDataListener() {
        dataListen_ = ListenLoopback(1);
        return LocalPort(dataListen_);
    }
    void AcceptData() {
        data_ = AcceptOn(dataListen_);
        ::close(dataListen_);
        dataListen_ = -1;
    }
    // Connects to the client's data port, from `from` (any loopback address).
    void ConnectData(int port, const char* from = "127.0.0.1") { data_ = ConnectFrom(port, from); }
    static int ConnectFrom(int port, const char* from) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from, &local.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0)
            throw std::runtime_error(std::string("cannot bind to ") + from);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0)
            throw std::runtime_error("cannot connect to the client's data port");
        return fd;
    }
    // The port of a "PORT h1,h2,h3,h4,p1,p2" command.
    static int PortOf(const std::string& command) {
        int h[4], hi = 0, lo = 0;
        if (std::sscanf(command.c_str(), "PORT %d,%d,%d,%d,%d,%d", &h[0], &h[1], &h[2], &h[3], &hi, &lo) != 6)
            throw std::runtime_error("not a PORT command: " + command);
        return hi * 256 + lo;
    }
    void SendData(const std::string& bytes) { SendOn(data_, bytes); }
    // Ends the data connection with a reset instead of a close.
    void ResetData() {
        linger l{1, 0};
        setsockopt(data_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        CloseData();
    }
    void CloseData() {
        if (data_ >= 0) ::close(data_);
        data_ = -1;
    }
    // Blocks until the client drops the data connection.
    void WaitDataDropped() {
        char buf[4096];
        for (;;) {
            WaitReadable(data_);
            if (::recv(data_, buf, sizeof buf, 0) <= 0) return;
        }
    }
    // Blocks until the test lets the script go on.
    void WaitGo() {
        std::unique_lock lock(mutex_);
        if (!goCv_.wait_for(lock, std::chrono::seconds(10), [this] { return go_; }))
            throw std::runtime_error("the test never let the script go on");
        go_ = false;
    }
    void Go() {
        std::lock_guard lock(mutex_);
        go_ = true;
        goCv_.notify_all();
    }
    // Tells the test that the script got this far (see Reached).
    void Mark() {
        ++marks_;
        WakeGui();
    }
    int Marks() const { return marks_; }
    static void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

private:
    void WaitReadable(int fd) {
        pollfd p{fd, POLLIN, 0};
        for (int waited = 0; waited < 10000; waited += 50) {
            if (::poll(&p, 1, 50) > 0) return;
            if (stop_ && waited >= 500) break;
        }
        throw std::runtime_error("timed out waiting for the client");
    }
    int AcceptOn(int fd) {
        WaitReadable(fd);
        int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) throw std::runtime_error("accept failed");
        int one = 1;  // each scripted write goes out at once
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return c;
    }
    static void SendOn(int fd, const std::string& text) {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) throw std::runtime_error("send to client failed");
            done += static_cast<std::size_t>(n);
        }
    }

    int listen_;
    int port_ = 0;
    int control_ = -1;
    int dataListen_ = -1;
    int data_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int> marks_{0};
    bool go_ = false;
    std::condition_variable goCv_;
    std::mutex mutex_;
    std::string error_;
    std::vector<std::string> commands_;
    std::thread thread_;
};

}  // namespace testnet
