#pragma once
// A TCP connection with blocking calls on the GUI thread. Every wait runs the event loop
// (blocking in it until the next event), so timers, clicks and other sockets' notifications
// go on while a call waits for the network. Notifications reach only the object whose socket
// they concern, one per event, as Winsock's asynchronous select delivers them.
#include <QObject>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Exceptions.h"

class QSocketNotifier;

// A socket call failed, a lookup or connection did not succeed, or a wait was canceled.
class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A blocking call ended by a cancel (or a time-out).
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// A handler destroyed the object whose call it ran in; the call leaves without touching it.
class EObjectDestroyed : public EAbortError {
public:
    EObjectDestroyed() : EAbortError("Socket send aborted") {}
};

class TBlockingSocket;
class TTimer;
// The time-out timer of a socket: the windows' interval timer, which already ticks on the
// thread that owns the socket.
using TThreadTimer = TTimer;

using TNotifyEvent = std::function<void(TBlockingSocket* Sender)>;
using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = std::function<void(TBlockingSocket* Sender)>;
using TOnStatus = std::function<void(TBlockingSocket* Sender, const std::string& Status)>;
using TOnErrorEvent = std::function<void(TBlockingSocket* Sender, std::uint16_t Errno, const std::string& Errmsg)>;

namespace net {
// A host lookup: fills the IPv4 address (network byte order) and returns 0, or returns the
// lookup error (wsa::kHostNotFound, ...). Runs on a worker thread.
using HostResolver = std::function<int(const std::string& name, std::uint32_t& address)>;
// Replaces the system resolver for every later lookup; an empty function restores it.
void SetHostResolver(HostResolver resolver);
}  // namespace net

class TBlockingSocket : public QObject {
public:
    static constexpr int kBufferSize = 65536;
    // Event numbers of the notifications (Winsock's FD_ bits).
    enum : int { FdRead = 1, FdOob = 4, FdAccept = 8, FdConnect = 16, FdClose = 32 };

    explicit TBlockingSocket(QObject* Owner = nullptr);
    ~TBlockingSocket() override;
    TBlockingSocket(const TBlockingSocket&) = delete;
    TBlockingSocket& operator=(const TBlockingSocket&) = delete;

    std::string Host;
    int Port = 0;
    int TimeOut = 0;
    int ReportLevel = 0;
    std::string Proxy;
    int ProxyPort = 0;

    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TOnErrorEvent OnError;
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;  // never fired

    virtual int Accept();
    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& command);
    virtual void Abort();

    void Cancel();
    void CheckConnection();
    void SendBuffer(const char* buffer, std::uint16_t length);
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    std::string Read(std::uint16_t count);
    std::string ReadLn();
    // Saves what arrives until the peer closes. `expected`, when known, is the size the
    // server announced; room for it is set aside where that is cheap and safe.
    void CaptureFile(const std::string& fileName, std::int64_t expected = 0);
    // Listens on `localAddress` (network byte order; 0 = every address). With `acceptFrom`
    // set, Accept takes only connections from that address and refuses the others.
    void Listen(bool useCompletionMessage, std::uint32_t localAddress = 0, std::uint32_t acceptFrom = 0);
    // An Accept that does not wait: the next acceptable pending connection, or -1.
    int TryAccept();
    bool DataAvailable();
    void ClearInput();
    void ResolveHost();
    void RequestCloseSocket();
    std::string CheckSocketError(int tolerated);
    std::string SocketErrorText(int number);
    std::string LocalAddressString() const;
    std::string LocalPortString() const;
    // Addresses of this object's socket and of its peer (network byte order; 0 = none).
    std::uint32_t LocalAddress() const;
    std::uint32_t PeerAddress() const;
    void ReportStatus(int level, const std::string& text);
    // Makes an accepted connection this object's socket, closing the listening one.
    void AdoptSocket(int fd);

    bool Connected() const { return connected_; }
    const std::string& Status() const { return status_; }
    int LastError() const { return lastError_; }
    std::int16_t ReplyNumber() const { return replyNumber_; }
    const std::string& LastReply() const { return lastReply_; }
    std::int64_t BytesRecvd() const { return bytesRecvd_; }
    std::int64_t BytesTotal() const { return bytesTotal_; }
    std::uint32_t RemoteAddress() const { return remoteAddress_; }
    bool TimedOut() const { return timedOut_; }
    bool Canceled() const { return canceled_; }
    int SocketHandle() const { return sock_; }
    bool TimerRunning() const;

protected:
    using Clock = std::chrono::steady_clock;

    void TimerOn();
    void TimerOff();
    void TimerTriggered();
    // Raises for a socket error number (above wsa::kBase) unless it is `tolerated`.
    std::string CheckError(int error, int tolerated);
    // Raises the error that a notification found on the socket (a reset), if there is one.
    void RaisePendingError();
    // True when the peer has closed and everything it sent has been read.
    bool PeerHasClosed();
    // One pass of the event loop, blocking until something happens. False when this object
    // was destroyed meanwhile: the caller must then leave without touching any member.
    static bool WaitForEvent(const std::shared_ptr<bool>& alive);
    static bool PumpEvents(const std::shared_ptr<bool>& alive);
    // Calls an event handler through a copy, so that the handler may replace or destroy it,
    // and raises EObjectDestroyed when the handler destroyed this object.
    template <class F, class... A>
    void Fire(const F& handler, A&&... args) {
        if (!handler) return;
        auto alive = alive_;
        F call = handler;
        call(std::forward<A>(args)...);
        if (!*alive) throw EObjectDestroyed();
    }
    // A read or close notification of this object's socket has been dispatched.
    virtual void SocketEvent(int event) { (void)event; }

    // How long a read that never has to wait may go on before pending events run.
    static constexpr auto kEventTurn = std::chrono::milliseconds(2);

    // While set, no wait lasts past this moment, whatever TimeOut says.
    std::optional<Clock::time_point> waitDeadline_;
    // True while the time-out timer calls Abort.
    bool timeOutFiring_ = false;

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool canceled_ = false;
    int pendingError_ = 0;  // a Winsock error that a notification took off the socket
    bool destroying_ = false;
    bool timedOut_ = false;
    bool eventDone_ = false;
    bool succeeded_ = false;
    bool connected_ = false;
    int lastError_ = 0;
    std::int64_t bytesTotal_ = 0;
    std::int64_t bytesRecvd_ = 0;
    std::int16_t replyNumber_ = 0;
    std::string lastReply_;
    std::string status_;

private:
    struct Lookup;

    // Arms the time-out timer for a scope and disarms it on every exit, unless the object died.
    class TimerScope {
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

    void NewSocket(bool zeroLinger);
    void DropSocket();
    // What a receive that returned `n` (its errno `err` when negative) means for a read that
    // waits: data came; the peer has closed (raising the error its close came with, if any);
    // a signal, try again; or nothing yet, wait. Any other error raises.
    enum class Received { Data, Ended, Retry, Wait };
    Received JudgeReceive(long n, int err);
    // Errors of a receive that end nothing: no data yet, or a signal.
    static bool Transient(int err);
    void WatchRead();
    void ArmRead();
    void OnReadable();
    void OnWritable();
    void Post(int event, int error, bool completion);
    void HandleSocketMessage(int event, int error, bool completion);
    void LookupDone(std::uint32_t address, int error);
    // A running lookup's answer is dropped when it comes.
    void ForgetLookup();

    std::array<char, kBufferSize> buffer_{};
    std::unique_ptr<TThreadTimer> timer_;
    std::shared_ptr<Lookup> lookup_;
    std::uint32_t remoteAddress_ = 0;
    std::uint32_t remoteLookup_ = 0;
    std::uint16_t peerPort_ = 0;
    int sock_ = -1;
    std::uint64_t generation_ = 0;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    bool readArmed_ = false;
    bool closeNotified_ = false;
    // When ReadLn began returning lines that were all waiting already (none: it waited).
    std::optional<Clock::time_point> lineRunStart_;
    bool listening_ = false;
    bool listenCompletion_ = false;
    std::uint32_t acceptFrom_ = 0;
};
