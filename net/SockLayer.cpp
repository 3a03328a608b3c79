#include "net/SockLayer.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "net/FailureReport.h"
#include "net/Parsing.h"
#include "net/WinsockErrors.h"
#include "platform/Timer.h"

// The socket's life, its status and errors, the time-out, connecting, closing and accepting.
// Sending and receiving are in SendReceive.cpp, the notifications and waits in
// SocketEvents.cpp, host lookups in HostLookup.cpp, a download's capture in Capture.cpp.

namespace {
int LastWinsockError() { return net::WinsockErrorFromErrno(errno); }
}  // namespace

TBlockingSocket::TBlockingSocket(QObject* Owner) : QObject(Owner) {
    ReportStatus(8, "Create");
    timer_ = std::make_unique<TThreadTimer>(0, false);
    timer_->OnTimer = [this] {
        try {
            TimerTriggered();
        } catch (const EObjectDestroyed&) {
            // A status handler destroyed this object: nothing is left to time out.
        } catch (...) {
            net::ReportCurrentFailure();
        }
    };
    TimeOut = 0;
    canceled_ = destroying_ = connected_ = false;
    ReportStatus(8, "Initializing Winsock");
    try {
        NewSocket(true);
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

TBlockingSocket::~TBlockingSocket() {
    try {
        ReportStatus(8, "Destroy");
        // Waits further up the stack see this and leave without touching the object.
        *alive_ = false;
        TBlockingSocket::Abort();
        Cancel();
        ForgetLookup();
        timer_.reset();
        destroying_ = true;
        RequestCloseSocket();
    } catch (...) {
    }
    if (sock_ >= 0) DropSocket();
}

void TBlockingSocket::NewSocket(bool zeroLinger) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        CheckSocketError(net::wsa::kWouldBlock);
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
        if (*alive) net::ReportCurrentFailure();
    }
    if (wasAlive && !*alive) throw EObjectDestroyed();
}

std::string TBlockingSocket::SocketErrorText(int number) {
    ReportStatus(8, "Looking Up Error Message");
    return net::SocketErrorText(number);
}

std::string TBlockingSocket::CheckError(int error, int tolerated) {
    lastError_ = error;
    if (error != tolerated && error > net::wsa::kBase) {
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
    timer_->SetInterval(static_cast<int>(std::min<std::int64_t>(interval, INT_MAX)));
    timer_->SetEnabled(true);  // the countdown starts afresh
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
        int err = errno == EINPROGRESS ? net::wsa::kWouldBlock : LastWinsockError();
        CheckError(err, net::wsa::kWouldBlock);
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
        CheckError(err, net::wsa::kWouldBlock);
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
            CheckError(net::WinsockErrorFromErrno(err), net::wsa::kWouldBlock);
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
