#include "net/Parsing.h"

#include <cerrno>
#include <cstddef>

#include "platform/Exceptions.h"

namespace net {

int WinsockErrorFromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES:
        case EPERM: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE:
        case ENFILE: return 10024;
        case EWOULDBLOCK: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case ECONNRESET: return 10054;
        case ENOBUFS:
        case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN:
        case EPIPE: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        case EUSERS: return 10068;
        case EDQUOT: return 10069;
        case ESTALE: return 10070;
        case EREMOTE: return 10071;
        default: return 20000 + err;  // no Winsock peer; still above 10000 so it raises
    }
}

namespace {
struct ErrorRow {
    int code;
    const char* text;
};
constexpr ErrorRow kErrorTable[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
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
