#include "net/Parsing.h"

#include <cerrno>
#include <cstddef>

#include "net/WinsockErrors.h"
#include "platform/Exceptions.h"

namespace net {

int WinsockErrorFromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return wsa::kInterrupted;
        case EBADF: return wsa::kBadFile;
        case EACCES:
        case EPERM: return wsa::kAccessDenied;
        case EFAULT: return wsa::kBadAddress;
        case EINVAL: return wsa::kInvalidArgument;
        case EMFILE:
        case ENFILE: return wsa::kTooManyFiles;
        case EWOULDBLOCK: return wsa::kWouldBlock;
        case EINPROGRESS: return wsa::kInProgress;
        case EALREADY: return wsa::kAlreadyInProgress;
        case ENOTSOCK: return wsa::kNotSocket;
        case EDESTADDRREQ: return wsa::kDestinationRequired;
        case EMSGSIZE: return wsa::kMessageTooLong;
        case EPROTOTYPE: return wsa::kWrongProtocolType;
        case ENOPROTOOPT: return wsa::kBadProtocolOption;
        case EPROTONOSUPPORT: return wsa::kProtocolNotSupported;
        case ESOCKTNOSUPPORT: return wsa::kSocketTypeNotSupported;
        case EOPNOTSUPP: return wsa::kOperationNotSupported;
        case EPFNOSUPPORT: return wsa::kProtocolFamilyNotSupported;
        case EAFNOSUPPORT: return wsa::kAddressFamilyNotSupported;
        case EADDRINUSE: return wsa::kAddressInUse;
        case EADDRNOTAVAIL: return wsa::kAddressNotAvailable;
        case ENETDOWN: return wsa::kNetworkDown;
        case ENETUNREACH: return wsa::kNetworkUnreachable;
        case ENETRESET: return wsa::kNetworkReset;
        case ECONNABORTED: return wsa::kConnectionAborted;
        case ECONNRESET: return wsa::kConnectionReset;
        case ENOBUFS:
        case ENOMEM: return wsa::kNoBufferSpace;
        case EISCONN: return wsa::kAlreadyConnected;
        case ENOTCONN: return wsa::kNotConnected;
        case ESHUTDOWN:
        case EPIPE: return wsa::kShutDown;
        case ETOOMANYREFS: return wsa::kTooManyReferences;
        case ETIMEDOUT: return wsa::kTimedOut;
        case ECONNREFUSED: return wsa::kConnectionRefused;
        case ELOOP: return wsa::kSymbolicLinkLoop;
        case ENAMETOOLONG: return wsa::kNameTooLong;
        case EHOSTDOWN: return wsa::kHostDown;
        case EHOSTUNREACH: return wsa::kHostUnreachable;
        case ENOTEMPTY: return wsa::kNotEmpty;
        case EUSERS: return wsa::kTooManyUsers;
        case EDQUOT: return wsa::kDiskQuota;
        case ESTALE: return wsa::kStaleHandle;
        case EREMOTE: return wsa::kRemotePath;
        default: return wsa::kUnmappedBase + err;
    }
}

namespace {
struct ErrorRow {
    int code;
    const char* text;
};
constexpr ErrorRow kErrorTable[] = {
    {wsa::kInterrupted, "Interrupted system call"},
    {wsa::kBadFile, "Bad file number"},
    {wsa::kAccessDenied, "Permission denied"},
    {wsa::kBadAddress, "Bad address"},
    {wsa::kInvalidArgument, "Invalid argument"},
    {wsa::kTooManyFiles, "Too many open files"},
    {wsa::kWouldBlock, "Operation would block"},
    {wsa::kInProgress, "Operation now in progress"},
    {wsa::kAlreadyInProgress, "Operation already in progress"},
    {wsa::kNotSocket, "Socket operation on non-socket"},
    {wsa::kDestinationRequired, "Destination address required"},
    {wsa::kMessageTooLong, "Message too long"},
    {wsa::kWrongProtocolType, "Wrong protocol type for socket"},
    {wsa::kBadProtocolOption, "Bad protocol option"},
    {wsa::kProtocolNotSupported, "Protocol not supported"},
    {wsa::kSocketTypeNotSupported, "Socket type not supported"},
    {wsa::kOperationNotSupported, "Operation not supported on socket"},
    {wsa::kProtocolFamilyNotSupported, "Protocol family not supported"},
    {wsa::kAddressFamilyNotSupported, "Address family not supported by protocol family"},
    {wsa::kAddressInUse, "Address already in use"},
    {wsa::kAddressNotAvailable, "Can't assign requested address"},
    {wsa::kNetworkDown, "Network is down"},
    {wsa::kNetworkUnreachable, "Network is unreachable"},
    {wsa::kNetworkReset, "Network dropped connection or reset"},
    {wsa::kConnectionAborted, "Software caused connection abort"},
    {wsa::kConnectionReset, "Connection reset by peer"},
    {wsa::kNoBufferSpace, "No buffer space available"},
    {wsa::kAlreadyConnected, "Socket is already connected"},
    {wsa::kNotConnected, "Socket is not connected"},
    {wsa::kShutDown, "Can't send after socket shutdown"},
    {wsa::kTooManyReferences, "Too many references, can't splice"},
    {wsa::kTimedOut, "Connection timed out"},
    {wsa::kConnectionRefused, "Connection refused"},
    {wsa::kSymbolicLinkLoop, "Too many levels of symbolic links"},
    {wsa::kNameTooLong, "File name too long"},
    {wsa::kHostDown, "Host is down"},
    {wsa::kHostUnreachable, "No route to Host"},
    {wsa::kNotEmpty, "Directory not empty"},
    {wsa::kTooManyProcesses, "Too many processes"},
    {wsa::kTooManyUsers, "Too many users"},
    {wsa::kDiskQuota, "Disc quota exceeded"},
    {wsa::kStaleHandle, "Stale NFS file handle"},
    {wsa::kRemotePath, "Too many levels of remote in path"},
    {wsa::kSystemNotReady, "Network subsystem is unavailable"},
    {wsa::kVersionNotSupported, "Incompatible version of WINSOCK.DLL"},
    {wsa::kNotInitialised, "Successful WSAStartup not yet performed"},
    {wsa::kHostNotFound, "Host not found"},
    {wsa::kTryAgain, "Non-Authoritative Host not found"},
    {wsa::kNoRecovery, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {wsa::kNoData, "Valid name, no data record of requested type"},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string SocketErrorText(int number) {
    if (number == 0) return {};
    for (const auto& row : kErrorTable)
        if (row.code == number) return std::to_string(number) + ":" + row.text;
    return "Unknown Error No. " + std::to_string(number);
}

std::int16_t ReplyNumberOf(std::string_view line) {
    std::int64_t value = 0;
    std::size_t i = 0;
    for (; i < line.size() && i < 10 && IsDigit(line[i]); ++i) value = value * 10 + (line[i] - '0');
    if (i == 0) return 0;
    if (value > 32767) throw ERangeError();
    return static_cast<std::int16_t>(value);
}

bool ReplyContinues(std::string_view first, std::string_view line) {
    if (line.empty()) return false;
    if (first.size() < 4 || first[3] != '-') return false;
    for (int k = 0; k < 3; ++k)
        if (!IsDigit(first[k])) return false;
    // The last line repeats the code followed by a space (RFC 959 4.2).
    return !(line.size() >= 4 && line.compare(0, 3, first.substr(0, 3)) == 0 && line[3] == ' ');
}

std::int64_t ExtractByteCount(std::string_view line) {
    std::size_t at = std::string_view::npos;
    for (std::size_t i = 0; i + 4 <= line.size(); ++i) {
        auto up = [&](std::size_t k) {
            char c = line[i + k];
            return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        };
        if (up(0) == 'B' && up(1) == 'Y' && up(2) == 'T' && up(3) == 'E') {
            at = i;
            break;
        }
    }
    if (at == std::string_view::npos) return 0;
    std::size_t end = at;
    while (end > 0 && !IsDigit(line[end - 1])) --end;
    if (end == 0) return 0;
    std::size_t begin = end;
    while (begin > 0 && IsDigit(line[begin - 1])) --begin;
    std::int64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (value > (INT64_MAX - 9) / 10) return 0;  // does not convert
        value = value * 10 + (line[i] - '0');
    }
    return value;
}

int ParsePasvPort(std::string_view reply) {
    // Pieces separated by commas, numbered from 1: p1 is the 5th, p2 the 6th up to ")".
    std::string_view pieces[6];
    std::size_t count = 0, start = 0;
    for (std::size_t i = 0; i <= reply.size() && count < 6; ++i) {
        if (i == reply.size() || reply[i] == ',') {
            pieces[count++] = reply.substr(start, i - start);
            start = i + 1;
        }
    }
    if (count < 6) throw EConvertError("Invalid passive mode reply: " + std::string(reply));
    std::string_view p2 = pieces[5];
    if (auto paren = p2.find(')'); paren != std::string_view::npos) p2 = p2.substr(0, paren);
    auto number = [&](std::string_view text) {
        // Blanks around the number are tolerated; anything else is not a number.
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                                 text.back() == '\n' || text.back() == '.'))
            text.remove_suffix(1);
        if (text.empty() || text.size() > 3)
            throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
        int v = 0;
        for (char c : text) {
            if (!IsDigit(c)) throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
            v = v * 10 + (c - '0');
        }
        if (v > 255) throw EConvertError("Invalid passive mode reply: " + std::string(reply));
        return v;
    };
    return number(pieces[4]) * 256 + number(p2);
}

std::string PortAddressText(std::string_view dotted) {
    std::string out(dotted);
    for (char& c : out)
        if (c == '.') c = ',';
    return out;
}

std::string PortNumberText(int port) {
    return "," + std::to_string((port >> 8) & 0xFF) + "," + std::to_string(port & 0xFF);
}

TCmdType CommandKind(std::string_view command) {
    std::string_view word = command.substr(0, command.find(' '));
    if (word == "CWD") return TCmdType::TransCwd;
    if (word == "DELE") return TCmdType::TransDele;
    if (word == "MKD") return TCmdType::TransMkd;
    if (word == "RMD") return TCmdType::TransRmd;
    if (command == "PWD") return TCmdType::TransPwd;
    return TCmdType::TransOther;
}

bool IsSingleLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace net
