#pragma once
// The pure text rules of the socket layer and the FTP client, kept free of sockets so that
// tests and the fuzzer can drive them directly.
#include <cstdint>
#include <string>
#include <string_view>

namespace net {

// Kind of an FTP operation as reported to OnSuccess, OnFailure and OnUnSupportedFunction.
enum class TCmdType : std::uint8_t {
    TransCwd = 0,
    TransMkd = 1,
    TransDele = 2,
    TransRmd = 3,
    TransList = 4,
    TransNlst = 5,
    TransStor = 6,
    TransAppe = 7,
    TransStou = 8,
    TransRetr = 9,
    TransRnfr = 10,
    TransRnto = 11,
    TransSite = 12,
    TransSize = 13,
    TransOther = 14,
    TransPwd = 15,
};

// The Winsock number for a POSIX errno (0 for 0; unknown values map above 10000 so that
// they still raise).
int WinsockErrorFromErrno(int err);

// "10061:Connection refused", "Unknown Error No. 12345", or empty for 0.
std::string SocketErrorText(int number);

// Leading decimal digits of a reply line (at most 10) as a reply number: 0 when there are
// none; ERangeError when the value does not fit a signed 16-bit number.
std::int16_t ReplyNumberOf(std::string_view line);

// True when `line` still belongs to the reply that began with `first`: the reply ends at the
// first line that carries the first line's code followed by a space, or at once when the
// first line is not of the "ddd-" form. An empty line (the peer closed) always ends it.
bool ReplyContinues(std::string_view first, std::string_view line);

// The size announced in a preliminary transfer reply: the digit run nearest before the first
// "BYTE" (case-insensitive); 0 when there is none or it does not fit.
std::int64_t ExtractByteCount(std::string_view line);

// The data port of a PASV reply: the fifth and sixth comma-separated numbers of the address
// in parentheses, p1 * 256 + p2. EConvertError when they are missing or out of range.
int ParsePasvPort(std::string_view reply);

// "h1,h2,h3,h4" from a dotted IPv4 address.
std::string PortAddressText(std::string_view dotted);
// ",hi,lo" for a port.
std::string PortNumberText(int port);

// The kind of a command line (case-sensitive first word).
TCmdType CommandKind(std::string_view command);

// True when the text may be sent as one command line: no CR, LF or NUL inside.
bool IsSingleLine(std::string_view text);

}  // namespace net
