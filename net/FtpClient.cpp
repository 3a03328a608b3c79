#include "net/FtpClient.h"

#include <exception>

namespace {

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }

// After a handler or a wait: leave at once if the client was destroyed meanwhile.
void LeaveIfGone(const std::shared_ptr<bool>& alive) {
    if (!*alive) throw EAbortError("Socket send aborted");
}

}  // namespace

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

std::string TFtpClient::Transaction(const std::string& command) {
    std::string first = TBlockingSocket::Transaction(command);
    ReadReplyRest(first);
    return first;
}

void TFtpClient::ReadReplyRest(const std::string& first) {
    std::string line = first;
    while (net::ReplyContinues(first, line)) {
        line = ReadLn();
        if (!line.empty()) ReportStatus(1, line);
    }
}

void TFtpClient::ReadGreeting() {
    std::string first;
    do {
        // A 1xx greeting ("ready in n minutes") is followed by the real one.
        first = ReadLn();
        lastReply_ = first;
        replyNumber_ = 0;
        if (first.empty()) break;
        ReportStatus(1, first);
        replyNumber_ = net::ReplyNumberOf(first);
        ReadReplyRest(first);
    } while (InRange(replyNumber_, 100, 199));
    if (first.empty() || replyNumber_ < 200 || replyNumber_ >= 400) {
        auto alive = alive_;
        if (OnConnectionFailed) OnConnectionFailed(this);
        LeaveIfGone(alive);
        throw FTPException(first.empty() ? " " : first);
    }
}

void TFtpClient::JudgeLogin() {
    if (!InRange(replyNumber_, 401, 599)) return;
    auto alive = alive_;
    if (OnConnectionFailed) OnConnectionFailed(this);
    LeaveIfGone(alive);
    throw FTPException(lastReply_);
}

void TFtpClient::Connect() {
    canceled_ = false;
    if (connected_) return;
    // Refused before anything is sent: a line break would inject a second command.
    for (const std::string* s : {&UserID, &Password, &FWUserID, &FWPassword, &Host})
        if (!net::IsSingleLine(*s)) throw ESockError("Line break in command refused");
    ClearInput();
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
            OnAuthenticationNeeded(handled);
            LeaveIfGone(alive);
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
        if (OnConnect) OnConnect(this);
    } catch (...) {
        if (!*alive) throw;
        try {
            Disconnect();
        } catch (...) {
            // The log-in failure is what the caller needs to see.
        }
        if (!*alive) throw;
        ReportStatus(1, "Disconnected");
        throw;
    }
}

void TFtpClient::Disconnect() {
    canceled_ = false;
    if (!connected_) return;
    // A download waiting further up the stack ends with its data connection.
    if (DataConnection) DataConnection->Cancel();
    ReportStatus(1, "QUIT");
    Vendor = 2411;
    auto alive = alive_;
    std::exception_ptr failure;
    try {
        DiscardLateInput();
        Transaction("QUIT");
        if (InRange(replyNumber_, 301, 599)) throw FTPException(lastReply_);
    } catch (...) {
        if (!*alive) throw;
        failure = std::current_exception();
    }
    TBlockingSocket::Disconnect();
    if (failure) std::rethrow_exception(failure);
}

void TFtpClient::Abort() {
    ReportStatus(8, "Abort");
    if (DataConnection) DataConnection->Cancel();
}

void TFtpClient::DiscardLateInput() {
    // A reply left over from an earlier exchange (e.g. after an aborted transfer).
    if (DataAvailable()) Read(0);
}

void TFtpClient::SendCommand(const std::string& command) {
    const TCmdType kind = net::CommandKind(command);
    auto alive = alive_;
    canceled_ = false;
    CheckConnection();
    if (connected_) {
        ReportStatus(1, command);
        DiscardLateInput();
        Transaction(command);
    }
    if (InRange(replyNumber_, 400, 599)) {
        if (InRange(replyNumber_, 500, 502) && OnUnSupportedFunction) {
            OnUnSupportedFunction(kind);
            LeaveIfGone(alive);
        }
        if (!OnFailure) throw FTPException(lastReply_);
        bool handled = false;
        OnFailure(handled, kind);
        LeaveIfGone(alive);
        if (!handled) throw FTPException(lastReply_);
        return;
    }
    if (OnSuccess) OnSuccess(kind);
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
    auto alive = alive_;
    try {
        bool success = false;
        canceled_ = false;
        CheckConnection();
        if (!connected_) return;
        if (!net::IsSingleLine(remote)) throw ESockError("Line break in command refused");
        DiscardLateInput();
        DataConnection = std::make_unique<TBlockingSocket>();
        DataConnection->TimeOut = TimeOut;
        if (OnPacketRecvd) DataConnection->OnPacketRecvd = OnPacketRecvd;
        std::exception_ptr failure;
        try {
            Download2(remote, local, success);
        } catch (...) {
            if (!*alive) throw;
            failure = std::current_exception();
        }
        // Cleanup, on every way out.
        DataConnection.reset();
        if (canceled_) {
            canceled_ = false;
            if (connected_) {
                try {
                    Transaction("ABOR");
                } catch (...) {
                    LeaveIfGone(alive);
                    if (!failure) throw;
                }
            }
        }
        if (failure) std::rethrow_exception(failure);
        if (success && OnSuccess) OnSuccess(TCmdType::TransRetr);
    } catch (...) {
        if (!*alive) throw;
        if (OnFailure) {
            bool handled = false;
            OnFailure(handled, TCmdType::TransRetr);
            if (!*alive) throw;
            if (handled) return;
        }
        throw;
    }
}

void TFtpClient::Download2(const std::string& remote, const std::string& local, bool& success) {
    auto alive = alive_;
    // A negative reply to PASV, PORT or RETR. True: handled, the download ends quietly.
    auto failureStep = [&]() -> bool {
        if (!OnFailure) throw FTPException(lastReply_);
        bool handled = false;
        OnFailure(handled, TCmdType::TransRetr);
        LeaveIfGone(alive);
        if (!handled) throw FTPException(lastReply_);
        return true;
    };
    if (Passive) {
        Transaction("PASV");
        if (replyNumber_ >= 500 && failureStep()) return;
        // The address in the reply is not used: the data goes to the control connection's host.
        DataConnection->Port = net::ParsePasvPort(lastReply_);
        DataConnection->Host = Host;
        DataConnection->Connect();
        LeaveIfGone(alive);
    } else {
        DataConnection->Port = 0;
        DataConnection->Listen(true);
        Transaction("PORT " + LocalAddressString() + DataConnection->LocalPortString());
        if (InRange(replyNumber_, 301, 599) && failureStep()) return;
    }
    ReportStatus(1, "RETR " + remote);
    bytesTotal_ = 0;
    TBlockingSocket::Transaction("RETR " + remote);
    if (InRange(replyNumber_, 301, 599) && failureStep()) return;
    const std::string first = lastReply_;
    std::string line = first;
    bytesTotal_ = net::ExtractByteCount(line);
    while (net::ReplyContinues(first, line)) {
        line = ReadLn();
        if (!line.empty()) ReportStatus(1, line);
        if (bytesTotal_ == 0) bytesTotal_ = net::ExtractByteCount(line);
    }
    if (!Passive) DataConnection->AdoptSocket(DataConnection->Accept());
    LeaveIfGone(alive);
    // The last line of the preliminary reply has the final say, unless it names no size.
    if (auto announced = net::ExtractByteCount(line)) bytesTotal_ = announced;
    if (OnTransactionStart) {
        OnTransactionStart(this);
        LeaveIfGone(alive);
    }
    if (!canceled_ && !timedOut_) DataConnection->CaptureFile(local.empty() ? remote : local);
    if (OnTransactionStop) {
        OnTransactionStop(this);
        LeaveIfGone(alive);
    }
    DataConnection->RequestCloseSocket();
    bytesTotal_ = DataConnection->BytesRecvd();
    ReportStatus(1, "Received " + std::to_string(bytesTotal_) + " Bytes");
    if (!canceled_ && !timedOut_) {
        line = ReadLn();
        if (!line.empty()) ReportStatus(1, line);
        if (!canceled_ && !timedOut_) ReadReplyRest(line);
    }
    if (OnTransactionStop) {
        OnTransactionStop(this);
        LeaveIfGone(alive);
    }
    success = true;
}
