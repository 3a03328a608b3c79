#pragma once
// FTP client (RFC 959): log-in, single commands, transfer type and downloads in passive or
// active mode. The control connection is this object's own socket; each download makes one
// further socket for its data.
#include <functional>
#include <memory>
#include <string>

#include "net/Parsing.h"
#include "net/SockLayer.h"

using net::TCmdType;

// A negative FTP reply; the message is the reply line with its line end.
class FTPException : public Exception {
public:
    using Exception::Exception;
};

enum class TFirewallType { FTUser = 0, FtOpen = 1, FtSite = 2 };

using TFailureEvent = std::function<void(bool& Handled, TCmdType Trans_Type)>;
using TSuccessEvent = std::function<void(TCmdType Trans_Type)>;
using TListItemEvent = std::function<void(const std::string& Listing)>;
using TUnsupportedEvent = std::function<void(TCmdType Trans_Type)>;

class TFtpClient : public TBlockingSocket {
public:
    explicit TFtpClient(QObject* Owner = nullptr);
    ~TFtpClient() override;

    // The client's own OnConnect (log-in finished) hides the socket-level one.
    TNotifyEvent OnConnect;
    std::string UserID;
    std::string Password;
    TNotifyEvent OnTransactionStart;
    TNotifyEvent OnTransactionStop;
    THandlerEvent OnAuthenticationNeeded;
    THandlerEvent OnAuthenticationFailed;  // never fired
    TFailureEvent OnFailure;
    TSuccessEvent OnSuccess;
    TListItemEvent OnListItem;  // never fired
    TUnsupportedEvent OnUnSupportedFunction;
    int Vendor = 2411;
    bool ParseList = false;
    bool Passive = false;
    TFirewallType FirewallType = TFirewallType::FTUser;
    std::string FWUserID;
    std::string FWPassword;
    bool FWAuthenticate = false;

    void Connect() override;
    void Disconnect() override;
    std::string Transaction(const std::string& command) override;
    void Abort() override;
    void SendCommand(const std::string& command);
    void SetTransferType(int n);
    void Download(const std::string& remote, const std::string& local);

    std::int64_t BytesRecvd() const;
    std::int64_t BytesTotal() const { return bytesTotal_; }
    bool Downloading() const { return DataConnection != nullptr; }

private:
    class Operation;
    class Deadline;

    // Sees every line of a reply as it is read.
    using LineHandler = std::function<void(const std::string& line)>;

    // Sends a command and reads its whole reply; returns the reply's first line.
    std::string Exchange(const std::string& command, const LineHandler& onLine = {});
    // Reads one whole reply: its first line, which becomes the last reply and sets
    // ReplyNumber, and the lines that continue it, each reported. Returns the first line.
    std::string ReadReply(const LineHandler& onLine = {});
    // The same for a first line read already.
    std::string TakeReply(const std::string& first, const LineHandler& onLine = {});
    // Reads the lines that continue the reply begun by `first`.
    void FinishReply(const std::string& first, const LineHandler& onLine = {});
    // A reply line; the server's close where one is due ends the connection (EClosedByServer).
    std::string ReadReplyLine();
    [[noreturn]] void LostConnection();
    void ReadGreeting();
    void JudgeLogin();
    bool Settle();
    void BringInStep();
    void DiscardLateInput();
    void ThrowIfAborted() const;
    // A negative reply: a failure handler may take it, else it raises FTPException. The
    // reply is a copy: the handler may read further replies.
    void Refused(std::string reply, TCmdType kind);
    // The transfer of a download: the data connection (PASV or PORT), RETR, the data into
    // `target`, the final reply. False when a failure handler took a refusal of the server.
    bool RetrieveFile(const std::string& remote, const std::string& target);
    void AcceptData();
    std::string ReadFinalReply();
    void SocketEvent(int event) override;

    std::unique_ptr<TBlockingSocket> DataConnection;
    int busy_ = 0;           // public operations running (nested ones from handlers included)
    bool aborting_ = false;  // Abort was called during the running operation
    // Where the control connection stands: complete replies the server still owes us, and
    // whether a multi-line reply (beginning with replyFirst_) was left half read.
    int owed_ = 0;
    bool midReply_ = false;
    std::string replyFirst_;
    bool binary_ = false;    // the transfer type is I or L 8
    bool quitting_ = false;  // QUIT is sent: a 221 is its answer
    // A running download: waiting for the server to connect in active mode (watchAccept_),
    // the server spoke or closed meanwhile (controlSpoke_), the control connection closed
    // (controlLost_), and the final reply read by a Disconnect from a handler (lateFinal_).
    bool watchAccept_ = false;
    bool controlSpoke_ = false;
    bool controlLost_ = false;
    bool awaitingFinal_ = false;
    std::string lateFinal_;
};
