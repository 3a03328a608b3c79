#include "net/SockLayer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "net/FailureReport.h"
#include "net/Parsing.h"

// The socket notifications, delivered as Winsock's asynchronous select delivers them, and
// the waits in the event loop that they end.

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
    // Nothing may escape into the event loop: a failing handler is reported like every other
    // handler of the program.
    auto alive = alive_;
    auto report = [&] {
        try {
            throw;
        } catch (const EObjectDestroyed&) {
        } catch (...) {
            net::ReportCurrentFailure();
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
                SocketEvent(event);
                break;
            case FdAccept:
                connected_ = true;
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

bool TBlockingSocket::WaitForEvent(const std::shared_ptr<bool>& alive) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return *alive;
}

bool TBlockingSocket::PumpEvents(const std::shared_ptr<bool>& alive) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return *alive;
}

