#include "net/SockLayer.h"

#include <QSocketNotifier>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/Parsing.h"
#include "net/WinsockErrors.h"

// Sending and receiving on the connected socket. Every wait sleeps in the event loop.

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
                CheckError(net::WinsockErrorFromErrno(err), net::wsa::kWouldBlock);
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
            const Received got = JudgeReceive(n, err);
            if (got == Received::Ended) return {};
            if (got == Received::Data) {
                result.append(buffer_.data(), static_cast<std::size_t>(n));
                if (result.size() == count) return result;
            } else if (got == Received::Wait) {
                if (!WaitForEvent(alive)) throw EAbortError("Socket send aborted");
            }
        }
    } else {
        ssize_t n = ::recv(sock_, buffer_.data(), kBufferSize, MSG_PEEK | MSG_DONTWAIT);
        int err = errno;
        ArmRead();
        if (n < 0 && !Transient(err)) pendingError_ = 0;
        if (n < 0 && err != EINTR) CheckError(net::WinsockErrorFromErrno(err), net::wsa::kWouldBlock);
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
        const Received outcome = JudgeReceive(n, err);
        if (outcome == Received::Ended) return {};
        if (outcome == Received::Retry) continue;
        if (outcome == Received::Wait) {
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

TBlockingSocket::Received TBlockingSocket::JudgeReceive(long n, int err) {
    if (n > 0) return Received::Data;
    if (n == 0) {
        RaisePendingError();  // a reset is no clean end
        return Received::Ended;
    }
    if (err == EINTR) return Received::Retry;
    lastError_ = net::WinsockErrorFromErrno(err);
    // Not connected: the peer's close has already replaced the socket; all is read, unless
    // the close came with an error.
    if (lastError_ == net::wsa::kNotConnected) {
        RaisePendingError();
        return Received::Ended;
    }
    // An error of this receive is raised now; an older pending one must not surface later.
    if (lastError_ != net::wsa::kWouldBlock) pendingError_ = 0;
    CheckError(lastError_, net::wsa::kWouldBlock);
    return Received::Wait;
}

bool TBlockingSocket::Transient(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

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

