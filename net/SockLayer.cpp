#include "net/SockLayer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "net/Parsing.h"
#include "platform/Files.h"
#include "platform/Guard.h"

// ---------------------------------------------------------------------------------------
// TThreadTimer

TThreadTimer::TThreadTimer(QObject* Owner) : QObject(Owner), timer_(std::make_unique<QTimer>()) {
    QObject::connect(timer_.get(), &QTimer::timeout, this, [this] { DoTimer(); });
}

TThreadTimer::~TThreadTimer() {
    enabled_ = false;
    timer_->stop();
}

void TThreadTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t value) {
    if (value == interval_) return;
    interval_ = value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(std::function<void(TThreadTimer*)> handler) {
    onTimer_ = std::move(handler);
    UpdateTimer();
}

bool TThreadTimer::Running() const { return timer_->isActive(); }

void TThreadTimer::UpdateTimer() {
    timer_->stop();
    if (interval_ != 0 && enabled_ && onTimer_) timer_->start(static_cast<int>(interval_));
}

void TThreadTimer::DoTimer() {
    // A failing handler goes to the application's error box, not out of the event loop. The
    // handler runs from a copy: it may destroy this timer.
    auto handler = onTimer_;
    platform::Guarded([&handler, self = this] {
        if (handler) handler(self);
    });
}

// ---------------------------------------------------------------------------------------
// TBlockingSocket

namespace {

int g_socketUsers = 0;  // objects holding the socket library, as Winsock counts them

int LastWinsockError() { return net::WinsockErrorFromErrno(errno); }

int WinsockErrorFromGai(int rc) {
    switch (rc) {
        case 0: return 0;
        case EAI_AGAIN: return 11002;
        case EAI_FAIL: return 11003;
#ifdef EAI_NODATA
        case EAI_NODATA: return 11004;
#endif
        default: return 11001;
    }
}

int SystemResolve(const std::string& name, std::uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc == 0 && result) address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    if (result) ::freeaddrinfo(result);
    return WinsockErrorFromGai(rc);
}

std::mutex g_resolverMutex;
net::HostResolver g_resolver;

net::HostResolver CurrentResolver() {
    std::lock_guard lock(g_resolverMutex);
    return g_resolver ? g_resolver : net::HostResolver(SystemResolve);
}

// Errors of a receive that end nothing: no data yet, or a signal.
bool Transient(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

}  // namespace

void net::SetHostResolver(HostResolver resolver) {
    std::lock_guard lock(g_resolverMutex);
    g_resolver = std::move(resolver);
}

// A running host lookup. The worker thread only ever touches its own copies; `owner` is
// read and written on the GUI thread alone, so a destroyed object simply drops the answer.
struct TBlockingSocket::Lookup {
    TBlockingSocket* owner = nullptr;
};

// Arms the time-out timer for a scope and disarms it on every exit, unless the object died.
class TBlockingSocket::TimerScope {
public:
    explicit TimerScope(TBlockingSocket& s) : s_(s), alive_(s.alive_) { s_.TimerOn(); }
    ~TimerScope() {
        try {
            if (*alive_) s_.TimerOff();
        } catch (...) {
            // Only a status handler that destroyed the object gets here; nothing is left to do.
        }
    }

private:
    TBlockingSocket& s_;
    std::shared_ptr<bool> alive_;
};

TBlockingSocket::TBlockingSocket(QObject* Owner) : QObject(Owner) {
    ReportStatus(8, "Create");
    timer_ = std::make_unique<TThreadTimer>();
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TThreadTimer*) {
        try {
            TimerTriggered();
        } catch (const EObjectDestroyed&) {
            // A status handler destroyed this object: nothing is left to time out.
        }
    });
    TimeOut = 0;
    canceled_ = destroying_ = connected_ = false;
    InitWinsock();
}

TBlockingSocket::~TBlockingSocket() {
    try {
        ReportStatus(8, "Destroy");
        // Waits further up the stack see this and leave without touching the object.
        *alive_ = false;
        TBlockingSocket::Abort();
        Cancel();
        if (lookup_) lookup_->owner = nullptr;
        timer_.reset();
        destroying_ = true;
        RequestCloseSocket();
    } catch (...) {
    }
    if (sock_ >= 0) DropSocket();
    if (--g_socketUsers == 0) winsockInfo_.clear();
}

void TBlockingSocket::InitWinsock() {
    ReportStatus(8, "Initializing Winsock");
    if (g_socketUsers++ == 0) {
        rlimit lim{};
        getrlimit(RLIMIT_NOFILE, &lim);
        winsockInfo_ = {"Version= 1.1", "High Version= 1.1", "Description= POSIX sockets",
                        "System= Running", "Max Sockets= " + std::to_string(lim.rlim_cur),
                        "Max Udp pack size= 65507"};
    }
    try {
        NewSocket(true);
    } catch (...) {
        --g_socketUsers;
        throw ESockError("Initializaton of windows sockets failed");
    }
}

void TBlockingSocket::NewSocket(bool zeroLinger) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        CheckSocketError(10035);
        throw ESockError("Initializaton of windows sockets failed");
    }
    if (zeroLinger) {
        // Closing the first socket resets the connection at once.
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    sock_ = fd;
    ++generation_;
    readArmed_ = true;
    closeNotified_ = false;
    listening_ = false;
    // No read watch yet: an unconnected socket polls as hung up and would wake every wait.
}

void TBlockingSocket::DropSocket() {
    readNotifier_.reset();
    writeNotifier_.reset();
    ++generation_;
}

void TBlockingSocket::WatchRead() {
    readNotifier_ = std::make_unique<QSocketNotifier>(sock_, QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    readArmed_ = true;
    closeNotified_ = false;
    readNotifier_->setEnabled(true);
}

// A receive re-arms the read notification, as with asynchronous select.
void TBlockingSocket::ArmRead() {
    readArmed_ = true;
    if (readNotifier_ && !closeNotified_) readNotifier_->setEnabled(true);
}

void TBlockingSocket::OnReadable() {
    if (listening_) {
        readNotifier_->setEnabled(false);  // re-armed by accept
        Post(FdAccept, 0, listenCompletion_);
        return;
    }
    char probe;
    ssize_t n = ::recv(sock_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    int err = n < 0 ? errno : 0;
    if (n < 0 && Transient(err)) return;  // spurious wake
    // The peek has taken the socket's error (a reset) off it: keep it for the next read,
    // which would otherwise see a clean end.
    if (n < 0 && err != ENOTCONN && !pendingError_) pendingError_ = net::WinsockErrorFromErrno(err);
    pollfd p{sock_, POLLIN | POLLRDHUP, 0};
    ::poll(&p, 1, 0);
    bool closed = n <= 0 || (p.revents & (POLLRDHUP | POLLHUP));
    if (n > 0 && readArmed_) {
        readArmed_ = false;
        Post(FdRead, 0, false);
    }
    if (closed && !closeNotified_) {
        closeNotified_ = true;
        Post(FdClose, net::WinsockErrorFromErrno(err), false);
    }
    // Waiting data with the read notification already given: nothing more to tell until the
    // next receive, so stop watching rather than waking the loop again and again.
    readNotifier_->setEnabled(readArmed_ && !closeNotified_);
}

void TBlockingSocket::OnWritable() {
    writeNotifier_->setEnabled(false);
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(sock_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err == 0 && !readNotifier_) WatchRead();
    Post(FdConnect, net::WinsockErrorFromErrno(err), false);
}

// Notifications are queued like window messages, so the dispatch never runs inside a
// notifier's own signal and may close the socket. Notifications of a socket that has been
// closed since are dropped.
void TBlockingSocket::Post(int event, int error, bool completion) {
    std::uint64_t gen = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, gen, event, error, completion] {
            if (gen == generation_ && !destroying_) HandleSocketMessage(event, error, completion);
        },
        Qt::QueuedConnection);
}

void TBlockingSocket::HandleSocketMessage(int event, int error, bool completion) {
    // Nothing may escape into the event loop: a failing handler goes to the error box, like
    // every other handler of the program.
    auto alive = alive_;
    auto report = [&] {
        try {
            throw;
        } catch (const EObjectDestroyed&) {
        } catch (...) {
            platform::ShowCurrentException();
        }
    };
    try {
        succeeded_ = error == 0;
        if (!succeeded_) lastError_ = error;
        if (completion) {
            eventDone_ = true;
            if (event == FdAccept) connected_ = true;
            return;
        }
        switch (event) {
            case FdRead:
                try {
                    Fire(OnDataArrival, this);
                } catch (...) {
                    report();
                    if (!*alive) return;
                }
                SocketEvent(event);
                break;
            case FdAccept:
                connected_ = true;
                Fire(OnAcceptHook, this);
                break;
            case FdConnect:
                if (succeeded_) {
                    connected_ = true;
                    Fire(OnConnect, this);
                }
                break;
            case FdClose:
                try {
                    // With data still waiting the socket stays open so that it can be read to
                    // its end.
                    if (!DataAvailable()) RequestCloseSocket();
                } catch (...) {
                    report();
                    if (!*alive) return;
                }
                SocketEvent(event);
                break;
            default:
                break;
        }
    } catch (...) {
        report();
    }
}

void TBlockingSocket::LookupDone(std::uint32_t address, int error) {
    lookup_.reset();
    succeeded_ = error == 0;
    if (!succeeded_) lastError_ = error;
    remoteLookup_ = address;
    eventDone_ = true;
}

bool TBlockingSocket::WaitForEvent(const std::shared_ptr<bool>& alive) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return *alive;
}

bool TBlockingSocket::PumpEvents(const std::shared_ptr<bool>& alive) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return *alive;
}

void TBlockingSocket::ReportStatus(int level, const std::string& text) {
    if (ReportLevel < level) return;
    status_ = text;
    if (destroying_ || !OnStatus) return;
    auto alive = alive_;
    const bool wasAlive = *alive;
    try {
        TOnStatus handler = OnStatus;
        handler(this, text);
    } catch (...) {
        // A failing status handler must not end the operation that reported; it is shown.
        if (*alive) platform::ShowCurrentException();
    }
    if (wasAlive && !*alive) throw EObjectDestroyed();
}

std::string TBlockingSocket::SocketErrorText(int number) {
    ReportStatus(8, "Looking Up Error Message");
    return net::SocketErrorText(number);
}

std::string TBlockingSocket::CheckError(int error, int tolerated) {
    lastError_ = error;
    if (error != tolerated && error > 10000) {
        std::string text = SocketErrorText(error);
        Fire(OnError, this, static_cast<std::uint16_t>(error), text);
        throw ESockError(text);
    }
    return {};
}

std::string TBlockingSocket::CheckSocketError(int tolerated) { return CheckError(LastWinsockError(), tolerated); }

void TBlockingSocket::TimerOn() {
    ReportStatus(8, "Timer On");
    timedOut_ = false;
    if (TimeOut < 0) throw ERangeError();
    if (!timer_) return;
    std::int64_t interval = TimeOut;
    if (waitDeadline_) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*waitDeadline_ - Clock::now()).count();
        left = std::max<std::int64_t>(left, 1);
        if (interval == 0 || left < interval) interval = left;
    }
    timer_->SetInterval(static_cast<std::uint32_t>(interval));
    timer_->SetEnabled(false);  // the countdown starts afresh
    timer_->SetEnabled(true);
}

void TBlockingSocket::TimerOff() {
    ReportStatus(8, "Timer Off");
    if (timer_) timer_->SetEnabled(false);
}

bool TBlockingSocket::TimerRunning() const { return timer_ && timer_->Running(); }

void TBlockingSocket::TimerTriggered() {
    ReportStatus(8, "Timer Triggered");
    TimerOff();
    timedOut_ = true;
    eventDone_ = true;
    auto alive = alive_;
    timeOutFiring_ = true;
    try {
        Abort();
    } catch (...) {
        if (*alive) timeOutFiring_ = false;
        throw;
    }
    timeOutFiring_ = false;
}

void TBlockingSocket::ResolveHost() {
    ReportStatus(8, "Resolve Host");
    const std::string name = Proxy.empty() ? Host : Proxy;
    in_addr_t direct = ::inet_addr(name.c_str());
    if (direct != INADDR_NONE) {
        remoteAddress_ = direct;
        return;
    }
    remoteAddress_ = 0;
    TimerScope timing(*this);
    eventDone_ = false;
    if (lookup_) lookup_->owner = nullptr;
    lookup_ = std::make_shared<Lookup>();
    lookup_->owner = this;
    // The system resolver blocks, so it runs on a worker whose answer is queued back to the
    // GUI thread like the completion message of an asynchronous lookup.
    std::thread([lookup = lookup_, name, resolve = CurrentResolver()] {
        std::uint32_t address = 0;
        int error = 11001;
        try {
            error = resolve(name, address);
        } catch (...) {
            // A lookup that fails in any way found nothing.
        }
        if (error) address = 0;
        if (auto* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app,
                [lookup, address, error] {
                    if (lookup->owner) lookup->owner->LookupDone(address, error);
                },
                Qt::QueuedConnection);
    }).detach();
    auto alive = alive_;
    while (!(eventDone_ || timedOut_ || canceled_))
        if (!WaitForEvent(alive)) throw EAbortError("Host Lookup Canceled");
    if (lookup_) {
        lookup_->owner = nullptr;
        lookup_.reset();
    }
    if (timedOut_) throw ESockError("Host Lookup Timed Out");
    if (canceled_) throw EAbortError("Host Lookup Canceled");
    if (!succeeded_) throw ESockError("Host Lookup Failed");
    remoteAddress_ = remoteLookup_;
    Fire(OnHostResolved, this);
}

void TBlockingSocket::Connect() {
    ReportStatus(8, "Connecting");
    canceled_ = false;
    if (connected_) throw ESockError("Already connected");
    auto alive = alive_;
    for (int retries = 0;;) {
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            if (!*alive) throw;
            std::string what = e.what();
            if (what == "Host Lookup Timed Out" || what == "Host Lookup Canceled") throw;
        }
        if (remoteAddress_ != 0) break;
        if (retries == 0 && OnInvalidHost) {
            bool handled = false;
            Fire(OnInvalidHost, handled);
            if (handled) {
                ++retries;
                continue;
            }
        }
        throw ESockError("Null Remote Address");
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = remoteAddress_;
    peer.sin_port = htons(static_cast<std::uint16_t>(Proxy.empty() ? Port : ProxyPort));
    peerPort_ = peer.sin_port;
    eventDone_ = false;
    succeeded_ = true;
    pendingError_ = 0;
    if (::connect(sock_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) < 0) {
        // A non-blocking connect is under way: Winsock calls that "would block".
        int err = errno == EINPROGRESS ? 10035 : LastWinsockError();
        CheckError(err, 10035);
    }
    writeNotifier_ = std::make_unique<QSocketNotifier>(sock_, QSocketNotifier::Write);
    QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, this, [this] { OnWritable(); });
    {
        TimerScope timing(*this);
        while (!(connected_ || timedOut_ || canceled_ || !succeeded_))
            if (!WaitForEvent(alive)) throw EAbortError("Connection Canceled");
    }
    if (!timedOut_ && !canceled_ && succeeded_) return;
    // A socket whose connect failed or is still pending cannot be used again: start afresh
    // so that the next Connect works.
    DropSocket();
    ::close(sock_);
    sock_ = -1;  // a failing NewSocket must not leave the closed number behind
    NewSocket(false);
    const bool timedOut = timedOut_, canceled = canceled_;
    Fire(OnConnectionFailed, this);
    if (timedOut) throw ESockError("Connection Timed out");
    if (canceled) {
        canceled_ = false;
        throw EAbortError("Connection Canceled");
    }
    throw ESockError("Connection Failed");
}

void TBlockingSocket::Disconnect() {
    ReportStatus(8, "Disconnecting");
    RequestCloseSocket();
}

void TBlockingSocket::RequestCloseSocket() {
    ReportStatus(4, "Request Close Socket");
    connected_ = false;
    if (sock_ < 0) return;
    DropSocket();
    int fd = sock_;
    sock_ = -1;
    if (::close(fd) < 0) {
        int err = LastWinsockError();
        if (!destroying_) NewSocket(false);
        CheckError(err, 10035);
        return;
    }
    if (destroying_) return;
    // The fresh socket exists before OnDisconnect, so a handler may connect again at once.
    NewSocket(false);
    Fire(OnDisconnect, this);
}

void TBlockingSocket::Cancel() {
    ReportStatus(8, "Canceling");
    canceled_ = true;
}

void TBlockingSocket::Abort() {
    ReportStatus(8, "Abort");
    Cancel();
}

void TBlockingSocket::CheckConnection() {
    ReportStatus(8, "Checking Connection");
    for (int attempts = 0; !connected_; ++attempts) {
        if (attempts > 0 || !OnConnectionRequired) throw Exception("Not Connected");
        bool handled = false;
        Fire(OnConnectionRequired, handled);
        if (!handled) throw Exception("Not Connected");
    }
}

void TBlockingSocket::SendBuffer(const char* buffer, std::uint16_t length) {
    ReportStatus(4, "Sending Buffer");
    auto alive = alive_;
    TimerScope timing(*this);
    if (!canceled_) {
        std::size_t remaining = length;
        if (length == 0) {
            const void* nul = std::memchr(buffer, 0, kBufferSize);
            if (!nul) throw ERangeError();
            remaining = static_cast<const char*>(nul) - buffer;
            if (remaining > 65535) throw ERangeError();
        }
        while (remaining > 0 && !canceled_) {
            ssize_t n = ::send(sock_, buffer, remaining, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n == 0) break;
            if (n < 0) {
                int err = errno;
                if (err == EINTR) continue;
                CheckError(net::WinsockErrorFromErrno(err), 10035);
                // No room: sleep in the event loop until there is, so that a cancel or the
                // time-out can end the wait.
                bool writable = false;
                QSocketNotifier room(sock_, QSocketNotifier::Write);
                QObject::connect(&room, &QSocketNotifier::activated, [&] {
                    writable = true;
                    room.setEnabled(false);
                });
                while (!writable && !canceled_)
                    if (!WaitForEvent(alive)) throw EAbortError("Socket send aborted");
                continue;
            }
            buffer += n;
            remaining -= static_cast<std::size_t>(n);
        }
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TBlockingSocket::Write(const std::string& text) {
    ReportStatus(8, "Write");
    // Sent as a NUL-terminated text: a NUL inside ends what is sent.
    std::size_t len = std::min(text.size(), std::strlen(text.c_str()));
    if (len > 65535) throw ERangeError();
    std::memcpy(buffer_.data(), text.data(), len);
    buffer_[len] = 0;
    SendBuffer(buffer_.data(), 0);
}

void TBlockingSocket::Writeln(const std::string& text) {
    ReportStatus(8, "Writeln");
    Write(text + "\r\n");
}

std::string TBlockingSocket::Read(std::uint16_t count) {
    ReportStatus(8, "Read( " + std::to_string(count) + " )");
    auto alive = alive_;
    ssize_t want = 0;
    if (count > 0) {
        // Bytes are taken out as they come: a peek at a partial block would find the read
        // notification ready again at once and turn the wait into a spin.
        std::string result;
        while (!canceled_) {
            ssize_t n = ::recv(sock_, buffer_.data(), count - result.size(), MSG_DONTWAIT);
            int err = errno;
            ArmRead();
            if (n == 0) {
                RaisePendingError();
                return {};
            }
            if (n > 0) {
                result.append(buffer_.data(), static_cast<std::size_t>(n));
                if (result.size() == count) return result;
                continue;
            }
            if (err == EINTR) continue;
            lastError_ = net::WinsockErrorFromErrno(err);
            if (lastError_ == 10057) {
                RaisePendingError();
                return {};
            }
            if (lastError_ != 10035) pendingError_ = 0;
            CheckError(lastError_, 10035);
            if (!WaitForEvent(alive)) throw EAbortError("Socket send aborted");
        }
    } else {
        ssize_t n = ::recv(sock_, buffer_.data(), kBufferSize, MSG_PEEK | MSG_DONTWAIT);
        int err = errno;
        ArmRead();
        if (n < 0 && !Transient(err)) pendingError_ = 0;
        if (n < 0 && err != EINTR) CheckError(net::WinsockErrorFromErrno(err), 10035);
        want = std::max<ssize_t>(n, 0);
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
    if (want == 0) return {};
    ssize_t got = ::recv(sock_, buffer_.data(), static_cast<std::size_t>(want), MSG_DONTWAIT);
    ArmRead();
    return got > 0 ? std::string(buffer_.data(), static_cast<std::size_t>(got)) : std::string();
}

std::string TBlockingSocket::ReadLn() {
    ReportStatus(8, "ReadLn");
    auto alive = alive_;
    TimerScope timing(*this);
    std::string line;
    // A peer that sends lines faster than they are read would never let this wait: after a
    // run of lines that were all waiting already, pending events get their turn, so that a
    // cancel, a time-out or a click still ends an endless reply.
    if (lineRunStart_ && Clock::now() - *lineRunStart_ >= kEventTurn) {
        lineRunStart_.reset();
        if (!PumpEvents(alive)) throw EAbortError("Socket readln aborted");
        // Every line restarts the time-out timer, so a deadline is looked at here as well.
        if (!canceled_ && waitDeadline_ && Clock::now() >= *waitDeadline_) {
            TimerTriggered();
            if (!*alive) throw EAbortError("Socket readln aborted");
        }
        if (canceled_) {
            canceled_ = false;
            throw EAbortError("Socket readln aborted");
        }
    }
    for (;;) {
        std::size_t room = kBufferSize - line.size();
        if (room == 0) throw ERangeError();  // the line does not fit the I/O buffer
        ssize_t n = ::recv(sock_, buffer_.data(), room, MSG_PEEK | MSG_DONTWAIT);
        int err = errno;
        ArmRead();
        if (n == 0) {
            RaisePendingError();
            return {};
        }
        if (n < 0) {
            if (err == EINTR) continue;
            lastError_ = net::WinsockErrorFromErrno(err);
            if (lastError_ == 10057) {
                RaisePendingError();
                return {};
            }
            if (lastError_ != 10035) pendingError_ = 0;
            CheckError(lastError_, 10035);
            if (canceled_) break;
            // Nothing waiting: sleep in the event loop until the next event.
            lineRunStart_.reset();
            if (!WaitForEvent(alive)) throw EAbortError("Socket readln aborted");
            // A handler that ran meanwhile may have canceled, or closed and replaced the socket.
            if (canceled_) break;
            continue;
        }
        // Only the newly peeked bytes need searching: what was taken before had no LF.
        if (const void* lf = std::memchr(buffer_.data(), '\n', static_cast<std::size_t>(n))) {
            std::size_t take = static_cast<const char*>(lf) - buffer_.data() + 1;
            ssize_t got = ::recv(sock_, buffer_.data(), take, MSG_DONTWAIT);
            ArmRead();
            if (got > 0) line.append(buffer_.data(), static_cast<std::size_t>(got));
            if (!lineRunStart_) lineRunStart_ = Clock::now();
            return line;
        }
        ssize_t got = ::recv(sock_, buffer_.data(), static_cast<std::size_t>(n), MSG_DONTWAIT);
        ArmRead();
        if (got > 0) line.append(buffer_.data(), static_cast<std::size_t>(got));
        lineRunStart_.reset();
        if (!PumpEvents(alive)) throw EAbortError("Socket readln aborted");
        if (canceled_) break;
    }
    canceled_ = false;
    throw EAbortError("Socket readln aborted");
}

std::string TBlockingSocket::Transaction(const std::string& command) {
    ReportStatus(8, "Transaction");
    replyNumber_ = 0;
    // A line break or NUL inside would end the command early and smuggle in another.
    if (!net::IsSingleLine(command)) throw ESockError("Line break in command refused");
    Writeln(command);
    lastReply_ = ReadLn();
    if (!lastReply_.empty()) {
        ReportStatus(1, lastReply_);
        replyNumber_ = net::ReplyNumberOf(lastReply_);
    }
    return lastReply_;
}

namespace {
// Room set aside for a download at most: a server's number is no reason to hold more of the
// disk than this while the data comes, nor more than half of what is free.
constexpr std::int64_t kReserveLimit = std::int64_t{4} << 30;

// The capture's local file, closed on every way out. Room set aside past what was written
// (a short or failed transfer) is given back first.
struct OutFile {
    int fd = -1;
    std::int64_t reserved = 0;
    ~OutFile() {
        if (fd < 0) return;
        Trim();
        ::close(fd);
    }
    // Sets aside room for the announced size in one step, so that the file system does not
    // find blocks page by page while data streams in (a fifth of a fast download's time).
    // Only an optimisation: where it cannot be done, the download goes on without it.
    void Reserve(std::int64_t size) {
        struct statvfs fs{};
        if (size <= 0 || size > kReserveLimit || ::fstatvfs(fd, &fs) != 0) return;
        const auto freeBytes = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
        if (static_cast<unsigned long long>(size) > freeBytes / 2) return;
        // A reservation that fails part-way may keep what it took: it is given back alike.
        (void)::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size);
        reserved = size;
    }
    // Frees reserved room past the end: a truncation to the file's own size does that.
    void Trim() {
        if (reserved <= 0) return;
        const std::int64_t room = reserved;
        reserved = 0;
        struct stat st{};
        if (::fstat(fd, &st) == 0 && st.st_size < room) (void)::ftruncate(fd, st.st_size);
    }
};

// A block's way from the socket to the file through a pipe: the kernel hands the received
// pages on instead of copying them out to us and back in, which halves the copying at full
// speed. Without a pipe, or on a file or socket that cannot take part, blocks go through the
// buffer as before.
struct SplicePipe {
    int fd[2] = {-1, -1};
    SplicePipe() {
        if (::pipe2(fd, O_CLOEXEC | O_NONBLOCK) < 0) fd[0] = fd[1] = -1;
    }
    ~SplicePipe() { drop(); }
    SplicePipe(const SplicePipe&) = delete;
    SplicePipe& operator=(const SplicePipe&) = delete;
    bool usable() const { return fd[0] >= 0; }
    void drop() {
        for (int& f : fd) {
            if (f >= 0) ::close(f);
            f = -1;
        }
    }
};
}  // namespace

// Moves a block that has entered the pipe on into the file. A file that takes no splice
// gets it through the buffer. So does a FIFO that is full: our pipe does not block, and the
// kernel then refuses to wait for the FIFO's reader (EAGAIN), where a write would wait.
void TBlockingSocket::SpliceToFile(int pipeRead, int fileFd, std::size_t size) {
    // The target may be a pipe whose reader goes away: the download then fails, the program
    // goes on.
    platform::BrokenPipeGuard noSignal;
    while (size > 0) {
        ssize_t w = ::splice(pipeRead, nullptr, fileFd, nullptr, size, SPLICE_F_MOVE);
        if (w > 0) {
            size -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EINVAL && errno != ENOSYS && errno != EAGAIN) platform::RaiseIoError(errno);
        ssize_t got = ::read(pipeRead, buffer_.data(), std::min(size, buffer_.size()));
        if (got <= 0) platform::RaiseIoError(got < 0 ? errno : EIO);
        platform::WriteAll(fileFd, buffer_.data(), static_cast<std::size_t>(got));
        size -= static_cast<std::size_t>(got);
    }
}

void TBlockingSocket::CaptureFile(const std::string& fileName, std::int64_t expected) {
    ReportStatus(8, "CaptureFile");
    auto alive = alive_;
    bytesRecvd_ = 0;
    TimerScope timing(*this);
    OutFile file;
    // Not blocking on the open: a pipe under the name without a reader would hold the GUI
    // until one came. Writes block as usual.
    file.fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (file.fd < 0) platform::RaiseIoError(errno);
    ::fcntl(file.fd, F_SETFL, ::fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);
    file.Reserve(expected);
    // Pending events run on a clock rather than per block: often enough that the GUI never
    // notices the transfer, rarely enough that the event loop costs nothing at full speed.
    auto lastTurn = Clock::now();
    SplicePipe pipe;
    while (!canceled_) {
        ssize_t n = -1;
        bool spliced = false, receive = true;
        if (pipe.usable()) {
            n = ::splice(sock_, nullptr, pipe.fd[1], nullptr, kBufferSize, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                pipe.drop();  // a socket that cannot splice: the buffer from here on
                continue;
            }
            spliced = n > 0;
            // A splice stops for good at a byte the peer marked urgent, and then reports an end
            // or nothing to read. A receive steps over that byte, so it has the last word on an
            // end or a wait; it costs a call only when there was nothing to move. An error the
            // splice took off the socket (a reset) stands.
            receive = n == 0 || (n < 0 && Transient(errno));
        }
        if (receive) n = ::recv(sock_, buffer_.data(), kBufferSize, MSG_DONTWAIT);
        int err = errno;
        ArmRead();
        if (n > 0) {
            if (spliced) {
                SpliceToFile(pipe.fd[0], file.fd, static_cast<std::size_t>(n));
            } else {
                platform::WriteAll(file.fd, buffer_.data(), static_cast<std::size_t>(n));
            }
            bytesRecvd_ += n;
            Fire(OnPacketRecvd, this);
            TimerOn();  // the time-out counts from the last block
            if (Clock::now() - lastTurn >= kEventTurn) {
                if (!PumpEvents(alive)) throw EAbortError("Socket send aborted");
                lastTurn = Clock::now();
            }
        } else if (n == 0) {
            RaisePendingError();  // a reset is no clean end
            break;
        } else {
            if (err == EINTR) continue;
            lastError_ = net::WinsockErrorFromErrno(err);
            // Not connected: the peer's close has already replaced the socket; all is read,
            // unless the close came with an error.
            if (lastError_ == 10057) {
                RaisePendingError();
                break;
            }
            if (lastError_ != 10035) pendingError_ = 0;
            CheckError(lastError_, 10035);
            if (!WaitForEvent(alive)) throw EAbortError("Socket send aborted");
            lastTurn = Clock::now();
        }
    }
    file.Trim();
    if (::close(file.fd) < 0) {
        file.fd = -1;
        platform::RaiseIoError(errno);
    }
    file.fd = -1;
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TBlockingSocket::Listen(bool useCompletionMessage, std::uint32_t localAddress, std::uint32_t acceptFrom) {
    ReportStatus(8, "Listening");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = localAddress;
    local.sin_port = htons(static_cast<std::uint16_t>(Port));
    eventDone_ = false;
    acceptFrom_ = acceptFrom;
    if (::bind(sock_, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) CheckSocketError(0);
    if (::listen(sock_, 1) < 0) CheckSocketError(0);
    DropSocket();
    listening_ = true;
    listenCompletion_ = useCompletionMessage;
    readNotifier_ = std::make_unique<QSocketNotifier>(sock_, QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
}

int TBlockingSocket::TryAccept() {
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(sock_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        int err = errno;
        if (readNotifier_) readNotifier_->setEnabled(true);
        if (fd < 0) {
            // Nothing (more) waiting, or a caller that gave up while queued.
            if (Transient(err) || err == ECONNABORTED) return -1;
            CheckError(net::WinsockErrorFromErrno(err), 10035);
            return -1;
        }
        if (acceptFrom_ != 0 && peer.sin_addr.s_addr != acceptFrom_) {
            // Not the peer we expect the data from: refuse it and go on waiting.
            ::close(fd);
            continue;
        }
        remoteAddress_ = peer.sin_addr.s_addr;
        peerPort_ = peer.sin_port;
        return fd;
    }
}

int TBlockingSocket::Accept() {
    ReportStatus(4, "Accepting");
    auto alive = alive_;
    TimerScope timing(*this);
    for (;;) {
        if (canceled_) {
            canceled_ = false;
            throw EAbortError("Accepting Canceled");
        }
        if (eventDone_) {
            if (!succeeded_) throw ESockError("Error creating Data Connection");
            if (int fd = TryAccept(); fd >= 0) return fd;
            eventDone_ = false;  // only strangers, or nothing after all: wait for the next
        }
        if (!WaitForEvent(alive)) throw EAbortError("Accepting Canceled");
    }
}

void TBlockingSocket::AdoptSocket(int fd) {
    DropSocket();
    if (sock_ >= 0) ::close(sock_);
    sock_ = fd;
    ++generation_;
    listening_ = false;
    connected_ = true;
    pendingError_ = 0;
    WatchRead();
}

bool TBlockingSocket::DataAvailable() {
    ReportStatus(8, "Data Available");
    char probe;
    ssize_t n = ::recv(sock_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    int err = errno;
    ArmRead();
    // An error taken off the socket here is kept for the next read.
    if (n < 0 && !Transient(err) && err != ENOTCONN && !pendingError_)
        pendingError_ = net::WinsockErrorFromErrno(err);
    return n > 0;
}

void TBlockingSocket::ClearInput() {
    ReportStatus(8, "Clearing Input");
    ::recv(sock_, buffer_.data(), kBufferSize, MSG_DONTWAIT);
    ArmRead();
}

bool TBlockingSocket::PeerHasClosed() {
    char probe;
    ssize_t n = ::recv(sock_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    ArmRead();
    return n == 0;
}

void TBlockingSocket::RaisePendingError() {
    if (int error = pendingError_) {
        pendingError_ = 0;
        CheckError(error, 0);
    }
}

std::string TBlockingSocket::LocalAddressString() const {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ::getsockname(sock_, reinterpret_cast<sockaddr*>(&local), &len);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return net::PortAddressText(text);
}

std::uint32_t TBlockingSocket::LocalAddress() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    return ::getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? a.sin_addr.s_addr : 0;
}

std::uint32_t TBlockingSocket::PeerAddress() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    return ::getpeername(sock_, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? a.sin_addr.s_addr : 0;
}

std::string TBlockingSocket::LocalPortString() const {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    ::getsockname(sock_, reinterpret_cast<sockaddr*>(&local), &len);
    return net::PortNumberText(ntohs(local.sin_port));
}
