#include "net/FtpClient.h"

#include <exception>
#include <utility>

namespace {

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }
bool Preliminary(int reply) { return InRange(reply, 100, 199); }

// The longest wait for the answer to QUIT, for the replies an interrupted exchange still
// owes before the next command, and for the answer to ABOR (TimeOut may make it shorter).
constexpr auto kSettleTime = std::chrono::seconds(3);

// The server closed the control connection where a reply was due.
class EClosedByServer : public ESockError {
public:
    EClosedByServer() : ESockError("Connection closed by server") {}
};

int ReplyNumberOrZero(const std::string& line) {
    try {
        return net::ReplyNumberOf(line);
    } catch (const ERangeError&) {
        return 0;
    }
}

// With no local name the file goes to the current folder under the remote name, which must
// then be a plain file name: a "/" or ".." from the server would reach other folders.
const std::string& LocalNameFor(const std::string& remote) {
    if (remote.empty() || remote == "." || remote == ".." || remote.find('/') != std::string::npos)
        throw EInOutError(3, platform::IoErrorText(3));
    return remote;
}

}  // namespace

// Marks a public operation as running. An Abort belongs to the outermost operation: it is
// forgotten when that one starts and ends. When a nested one (a Disconnect from a handler)
// ends with an abort pending, the wait it interrupted further up the stack ends too.
class TFtpClient::Operation {
public:
    explicit Operation(TFtpClient& c) : c_(c), alive_(c.alive_) {
        if (c_.busy_++ == 0) c_.aborting_ = false;
    }
    ~Operation() {
        if (!*alive_) return;
        if (--c_.busy_ == 0) {
            c_.aborting_ = false;
            c_.canceled_ = false;
        } else if (c_.aborting_) {
            c_.canceled_ = true;
        }
    }

private:
    TFtpClient& c_;
    std::shared_ptr<bool> alive_;
};

// Bounds every wait of a scope, also with TimeOut 0.
class TFtpClient::Deadline {
public:
    Deadline(TFtpClient& c, Clock::duration limit) : c_(c), alive_(c.alive_), old_(c.waitDeadline_) {
        auto at = Clock::now() + limit;
        if (!old_ || at < *old_) c_.waitDeadline_ = at;
    }
    ~Deadline() {
        if (*alive_) c_.waitDeadline_ = old_;
    }

private:
    TFtpClient& c_;
    std::shared_ptr<bool> alive_;
    std::optional<Clock::time_point> old_;
};

TFtpClient::TFtpClient(QObject* Owner) : TBlockingSocket(Owner) {
    Port = 21;
    Vendor = 2411;
}

TFtpClient::~TFtpClient() {
    // A download further up the stack must see the client gone before its data connection is.
    *alive_ = false;
    canceled_ = true;
    DataConnection.reset();
}

std::int64_t TFtpClient::BytesRecvd() const { return DataConnection ? DataConnection->BytesRecvd() : 0; }

std::string TFtpClient::Exchange(const std::string& command, const LineHandler& onLine) {
    ReportStatus(8, "Transaction");
    replyNumber_ = 0;
    // A line break or NUL inside would end the command early and smuggle in another.
    if (!net::IsSingleLine(command)) throw ESockError("Line break in command refused");
    if (!connected_) throw EClosedByServer();
    ++owed_;
    Writeln(command);
    return ReadReply(onLine);
}

std::string TFtpClient::ReadReply(const LineHandler& onLine) { return TakeReply(ReadReplyLine(), onLine); }

std::string TFtpClient::TakeReply(const std::string& first, const LineHandler& onLine) {
    lastReply_ = first;
    replyNumber_ = static_cast<std::int16_t>(ReplyNumberOrZero(first));
    ReportStatus(1, first);
    if (onLine) onLine(first);
    FinishReply(first, onLine);
    return first;
}

void TFtpClient::FinishReply(const std::string& first, const LineHandler& onLine) {
    midReply_ = true;
    replyFirst_ = first;
    for (std::string line = first; net::ReplyContinues(first, line);) {
        line = ReadReplyLine();
        ReportStatus(1, line);
        if (onLine) onLine(line);
    }
    midReply_ = false;
    const int number = ReplyNumberOrZero(first);
    if (!Preliminary(number) && owed_ > 0) --owed_;
    if (number == 421) {
        // "Service not available, closing control connection": it will say no more.
        owed_ = 0;
        if (connected_) RequestCloseSocket();
    }
    (void)net::ReplyNumberOf(first);  // a number out of range raises, now that the reply is read whole
}

std::string TFtpClient::Transaction(const std::string& command) {
    std::string first = Exchange(command);
    if (InRange(replyNumber_, 200, 299) && command.size() > 5 && (command.compare(0, 5, "TYPE ") == 0 ||
                                                                   command.compare(0, 5, "type ") == 0)) {
        const char type = command[5];
        binary_ = type == 'I' || type == 'i' || type == 'L' || type == 'l';
    }
    return first;
}

std::string TFtpClient::ReadReplyLine() {
    std::string line = ReadLn();
    if (line.empty()) LostConnection();
    return line;
}

void TFtpClient::LostConnection() {
    owed_ = 0;
    midReply_ = false;
    if (connected_) RequestCloseSocket();  // OnDisconnect, unless the close notification did it
    throw EClosedByServer();
}

void TFtpClient::ReadGreeting() {
    std::string first;
    do {
        // A 1xx greeting ("ready in n minutes") is followed by the real one. A server that
        // closes at once has said nothing.
        first = ReadLn();
        if (first.empty()) {
            lastReply_.clear();
            replyNumber_ = 0;
            break;
        }
        TakeReply(first);
    } while (Preliminary(replyNumber_));
    if (first.empty() || replyNumber_ < 200 || replyNumber_ >= 400) {
        // The server closed at once: there is nobody left to say QUIT to.
        if (first.empty() && connected_) RequestCloseSocket();
        Fire(OnConnectionFailed, this);
        throw FTPException(first.empty() ? " " : first);
    }
}

void TFtpClient::JudgeLogin() {
    if (!InRange(replyNumber_, 401, 599)) return;
    const std::string reply = lastReply_;  // what failed, whatever the handler does next
    Fire(OnConnectionFailed, this);
    throw FTPException(reply);
}

void TFtpClient::Connect() {
    Operation op(*this);
    canceled_ = false;
    if (connected_) return;
    // Refused before anything is sent: a line break would inject a second command.
    for (const std::string* s : {&UserID, &Password, &FWUserID, &FWPassword, &Host})
        if (!net::IsSingleLine(*s)) throw ESockError("Line break in command refused");
    ClearInput();
    owed_ = 0;
    midReply_ = false;
    binary_ = false;
    TBlockingSocket::Connect();
    auto alive = alive_;
    try {
        ReadGreeting();
        if (FWAuthenticate) {
            Transaction("USER " + FWUserID);
            JudgeLogin();
            if (replyNumber_ == 331) {
                ReportStatus(1, "PASS ");
                Transaction("PASS " + FWPassword);
                JudgeLogin();
            }
        }
        if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
            bool handled = false;
            Fire(OnAuthenticationNeeded, handled);
        }
        if (!Proxy.empty()) {
            switch (FirewallType) {
                case TFirewallType::FTUser: Transaction("USER " + UserID + "@" + Host); break;
                case TFirewallType::FtOpen: Transaction("OPEN " + Host); break;
                case TFirewallType::FtSite: Transaction("SITE " + Host); break;
            }
        }
        if (!(!Proxy.empty() && FirewallType == TFirewallType::FTUser)) {
            ReportStatus(1, "USER " + UserID);
            Transaction("USER " + UserID);
            JudgeLogin();
        }
        if (replyNumber_ == 331) {
            ReportStatus(1, "PASS ");
            Transaction("PASS " + Password);
            JudgeLogin();
        }
        Fire(OnConnect, this);
    } catch (...) {
        if (!*alive) throw;
        try {
            Disconnect();
        } catch (...) {
            // The log-in failure is what the caller needs to see.
            if (!*alive) throw;
        }
        ReportStatus(1, "Disconnected");
        throw;
    }
}

void TFtpClient::Disconnect() {
    Operation op(*this);
    const bool nested = busy_ > 1;
    const bool hurry = aborting_;  // after an Abort nobody waits for the server's goodbye
    canceled_ = false;
    if (!connected_) return;
    auto alive = alive_;
    if (DataConnection) {
        // A download waiting further up the stack ends with its data connection; the server
        // then answers the transfer at once instead of after the whole file.
        DataConnection->Cancel();
        DataConnection->RequestCloseSocket();
    }
    ReportStatus(1, "QUIT");
    Vendor = 2411;
    std::exception_ptr failure;
    if (!hurry) {
        // QUIT goes out at once; the server answers what it still owes first, in order, and
        // its last reply is the answer to QUIT. The connection is closed after a bounded
        // wait whatever happens; only a rejected QUIT is reported.
        Deadline limit(*this, kSettleTime);
        try {
            if (owed_ == 0 && !midReply_ && DataAvailable()) Read(0);  // asked for by nobody
            ReportStatus(8, "Transaction");
            ++owed_;
            quitting_ = true;
            Writeln("QUIT");
            const bool answered = Settle();
            quitting_ = false;
            if (answered && InRange(replyNumber_, 301, 599)) throw FTPException(lastReply_);
        } catch (const FTPException&) {
            failure = std::current_exception();
        } catch (...) {
            if (!*alive) throw;
        }
        quitting_ = false;
    }
    if (connected_) TBlockingSocket::Disconnect();
    if (nested) aborting_ = true;  // the operation this one interrupted ends as well
    if (failure) std::rethrow_exception(failure);
}

void TFtpClient::Abort() {
    ReportStatus(8, "Abort");
    if (DataConnection) DataConnection->Cancel();
    // The wait on the control connection ends too. An Abort, unlike a time-out, also ends
    // the operation itself, whatever it would wait for next.
    if (busy_ > 0 || timeOutFiring_) canceled_ = true;
    if (busy_ > 0 && !timeOutFiring_) aborting_ = true;
}

void TFtpClient::ThrowIfAborted() const {
    if (aborting_ || canceled_) throw EAbortError("Socket send aborted");
}

bool TFtpClient::Settle() {
    if (owed_ == 0 && !midReply_) return true;
    auto alive = alive_;
    Deadline limit(*this, kSettleTime);
    try {
        if (midReply_) FinishReply(std::string(replyFirst_));
        while (owed_ > 0 && connected_) {
            const std::string first = ReadReply();
            // 221 answers QUIT, whatever the server failed to say before it.
            if (quitting_ && replyNumber_ == 221) owed_ = 0;
            // A Disconnect from a handler has read the final reply of the waiting download.
            else if (awaitingFinal_ && lateFinal_.empty() && !Preliminary(replyNumber_)) lateFinal_ = first;
        }
        return connected_;
    } catch (...) {
        if (!*alive) throw;
        // Out of step for good: only a new connection can be trusted.
        owed_ = 0;
        midReply_ = false;
        if (connected_) RequestCloseSocket();
        return false;
    }
}

void TFtpClient::BringInStep() {
    if (owed_ > 0 || midReply_) {
        if (Settle()) return;
        ReportStatus(1, "Disconnected");
        if (aborting_) throw EAbortError("Socket readln aborted");
        CheckConnection();  // "Not Connected", unless a handler connects afresh
        return;
    }
    DiscardLateInput();
}

void TFtpClient::DiscardLateInput() {
    // Input nobody asked for is dropped. But a server that shuts down says 421 and closes:
    // that is reported and ends the connection.
    if (!DataAvailable()) return;
    const std::string waiting = Read(0);
    for (std::size_t at = 0; at < waiting.size();) {
        std::size_t end = waiting.find('\n', at);
        end = end == std::string::npos ? waiting.size() : end + 1;
        const std::string line = waiting.substr(at, end - at);
        at = end;
        if (line.compare(0, 3, "421") != 0) continue;
        ReportStatus(1, line);
        lastReply_ = line;
        replyNumber_ = 421;
        owed_ = 0;
        if (connected_) RequestCloseSocket();
        throw FTPException(line);
    }
}

void TFtpClient::SocketEvent(int event) {
    if (!DataConnection) return;
    if (event == FdClose && !connected_) {
        // The control connection is gone: no final reply can come, so the data wait ends.
        controlLost_ = true;
        DataConnection->Cancel();
    } else if (watchAccept_ && (DataAvailable() || PeerHasClosed())) {
        // Whatever the server says while we wait for it to connect (a 425, a 421), or its
        // close, means that it will not connect. (A notification may be older than the read
        // that took its data: only what is still waiting counts.)
        controlSpoke_ = true;
        DataConnection->Cancel();
    }
}

void TFtpClient::SendCommand(const std::string& command) {
    Operation op(*this);
    const TCmdType kind = net::CommandKind(command);
    canceled_ = false;
    CheckConnection();
    if (connected_) {
        ReportStatus(1, command);
        if (!net::IsSingleLine(command)) throw ESockError("Line break in command refused");
        BringInStep();
        Transaction(command);
    }
    const int number = replyNumber_;
    if (InRange(number, 400, 599)) {
        std::string reply = lastReply_;  // what failed, whatever the handlers do next
        if (InRange(number, 500, 502)) Fire(OnUnSupportedFunction, kind);
        Refused(std::move(reply), kind);
        return;
    }
    Fire(OnSuccess, kind);
}

void TFtpClient::Refused(std::string reply, TCmdType kind) {
    if (!OnFailure) throw FTPException(reply);
    bool handled = false;
    Fire(OnFailure, handled, kind);
    if (!handled) throw FTPException(reply);
}

void TFtpClient::SetTransferType(int n) {
    switch (n) {
        case 1: SendCommand("TYPE A"); break;
        case 2: SendCommand("TYPE I"); break;
        case 3: SendCommand("TYPE L 8"); break;
        default: break;
    }
}

void TFtpClient::Download(const std::string& remote, const std::string& local) {
    Operation op(*this);
    auto alive = alive_;
    try {
        bool success = false;
        canceled_ = false;
        CheckConnection();
        if (!connected_) return;
        if (!net::IsSingleLine(remote)) throw ESockError("Line break in command refused");
        const std::string& target = local.empty() ? LocalNameFor(remote) : local;
        BringInStep();
        DataConnection = std::make_unique<TBlockingSocket>();
        DataConnection->TimeOut = TimeOut;
        if (OnPacketRecvd) DataConnection->OnPacketRecvd = OnPacketRecvd;
        watchAccept_ = controlSpoke_ = controlLost_ = awaitingFinal_ = false;
        lateFinal_.clear();
        std::exception_ptr failure;
        bool localFailure = false;
        try {
            success = RetrieveFile(remote, target);
        } catch (const EInOutError&) {
            if (!*alive) throw;
            // The local file refused the data (a full disk): the server is still sending.
            failure = std::current_exception();
            localFailure = true;
        } catch (const EAbortError&) {
            if (!*alive) throw;
            // A data wait that ended because the control connection closed says so.
            failure = controlLost_ && !aborting_ ? std::make_exception_ptr(EClosedByServer())
                                                 : std::current_exception();
        } catch (...) {
            if (!*alive) throw;
            failure = std::current_exception();
        }
        // Cleanup, on every way out.
        watchAccept_ = awaitingFinal_ = false;
        DataConnection.reset();
        if (canceled_) {
            // A Cancel of the client asks the server to abort the transfer; an Abort does not.
            const bool sendAbor = !aborting_;
            canceled_ = false;
            if (sendAbor && connected_) {
                try {
                    Deadline limit(*this, kSettleTime);
                    Transaction("ABOR");
                } catch (...) {
                    if (!*alive) throw;
                    if (!failure) throw;
                }
            }
        }
        if (localFailure && connected_) {
            // The server is told to stop, and both its answers (the transfer's and the ABOR's)
            // are read, so the connection is in step for the next command. A server that does
            // not answer in time has its connection closed: Connected then says so.
            try {
                Deadline limit(*this, kSettleTime);
                Transaction("ABOR");
                if (!Settle() && connected_) RequestCloseSocket();
            } catch (...) {
                if (!*alive) throw;
                owed_ = 0;
                midReply_ = false;
                if (connected_) RequestCloseSocket();
            }
        }
        if (failure) std::rethrow_exception(failure);
        if (success) Fire(OnSuccess, TCmdType::TransRetr);
    } catch (...) {
        if (!*alive) throw;
        if (OnFailure) {
            bool handled = false;
            Fire(OnFailure, handled, TCmdType::TransRetr);
            if (handled) return;
        }
        throw;
    }
}

bool TFtpClient::RetrieveFile(const std::string& remote, const std::string& target) {
    // A negative reply to PASV, PORT or RETR that a failure handler took: the download ends
    // quietly.
    auto refused = [&] {
        Refused(lastReply_, TCmdType::TransRetr);
        return false;
    };
    if (Passive) {
        Transaction("PASV");
        if (replyNumber_ >= 400) return refused();
        ThrowIfAborted();
        // The address in the reply is not used: the data goes to the control connection's host.
        DataConnection->Port = net::ParsePasvPort(lastReply_);
        DataConnection->Host = Host;
        DataConnection->Connect();
    } else {
        DataConnection->Port = 0;
        // Only the server may connect, and only to where it reached us.
        DataConnection->Listen(true, LocalAddress(), PeerAddress());
        Transaction("PORT " + LocalAddressString() + DataConnection->LocalPortString());
        if (InRange(replyNumber_, 301, 599)) return refused();
    }
    ThrowIfAborted();
    ReportStatus(1, "RETR " + remote);
    bytesTotal_ = 0;
    std::string line;
    Exchange("RETR " + remote, [&](const std::string& next) {
        line = next;
        if (bytesTotal_ == 0) bytesTotal_ = net::ExtractByteCount(next);
    });
    if (InRange(replyNumber_, 301, 599)) return refused();
    ThrowIfAborted();
    if (!Passive) AcceptData();
    // The last line of the preliminary reply has the final say, unless it names no size.
    if (auto size = net::ExtractByteCount(line)) bytesTotal_ = size;
    const std::int64_t announced = bytesTotal_;
    Fire(OnTransactionStart, this);
    ThrowIfAborted();
    DataConnection->CaptureFile(target, announced);
    // From here a Disconnect from a handler reads the final reply on the way out.
    awaitingFinal_ = true;
    Fire(OnTransactionStop, this);
    DataConnection->RequestCloseSocket();
    const std::int64_t received = DataConnection->BytesRecvd();
    ReportStatus(1, "Received " + std::to_string(received) + " Bytes");
    const std::string final = ReadFinalReply();
    Fire(OnTransactionStop, this);
    // A negative final reply, or a binary transfer cut short, is a failed download: the
    // bytes received stay in the file and BytesTotal keeps the announced size.
    if (!InRange(ReplyNumberOrZero(final), 200, 299) || (binary_ && announced > 0 && received < announced))
        throw FTPException(final);
    bytesTotal_ = received;
    return true;
}

void TFtpClient::AcceptData() {
    auto alive = alive_;
    int fd = -1;
    controlSpoke_ = false;
    watchAccept_ = true;
    try {
        // Its close may have been noticed while its last reply was still unread.
        if (connected_ && !DataAvailable() && !PeerHasClosed()) fd = DataConnection->Accept();
    } catch (const EAbortError&) {
        if (!*alive) throw;
        watchAccept_ = false;
        if (!controlSpoke_ || aborting_ || canceled_) throw;
    }
    watchAccept_ = false;
    if (fd < 0) fd = DataConnection->TryAccept();
    if (fd < 0) {
        // It answered instead of connecting (a 425), or closed.
        const std::string reply = ReadFinalReply();
        if (!InRange(ReplyNumberOrZero(reply), 200, 299)) throw FTPException(reply);
        // It says the transfer is done, so it did connect: the last step of that connection
        // may still be on its way over the network. That reply is the final one.
        lateFinal_ = reply;
        const int timeOut = DataConnection->TimeOut;
        const int limit = static_cast<int>(std::chrono::milliseconds(kSettleTime).count());
        DataConnection->TimeOut = timeOut > 0 && timeOut < limit ? timeOut : limit;
        fd = DataConnection->Accept();
        DataConnection->TimeOut = timeOut;
    }
    DataConnection->AdoptSocket(fd);
}

std::string TFtpClient::ReadFinalReply() {
    auto alive = alive_;
    try {
        if (lateFinal_.empty()) {
            std::string first;
            do first = ReadReply();
            while (Preliminary(replyNumber_));
            awaitingFinal_ = false;
            return first;
        }
    } catch (...) {
        if (!*alive || lateFinal_.empty()) throw;
    }
    // A Disconnect from a handler read it before it closed the connection.
    awaitingFinal_ = false;
    return lateFinal_;
}
