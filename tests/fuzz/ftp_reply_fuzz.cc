// Fuzzes the reply rules: reply numbers, the multi-line continuation rule, the size in a
// preliminary reply, the PASV port and the command kind. Any outcome but a clean result or
// one of the designed exceptions is a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/Parsing.h"
#include "platform/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    // The input is a run of reply lines, as the line reader would return them.
    std::string_view first;
    bool inReply = false;
    while (!all.empty()) {
        std::size_t lf = all.find('\n');
        std::string_view line = all.substr(0, lf == std::string_view::npos ? all.size() : lf + 1);
        all.remove_prefix(line.size());
        try {
            std::int16_t n = net::ReplyNumberOf(line);
            if (n < 0) __builtin_trap();
        } catch (const ERangeError&) {
        }
        if (!inReply) first = line;
        inReply = net::ReplyContinues(first, line);
        if (net::ExtractByteCount(line) < 0) __builtin_trap();
        try {
            int port = net::ParsePasvPort(line);
            if (port < 0 || port > 65535) __builtin_trap();
        } catch (const EConvertError&) {
        }
        (void)net::CommandKind(line);
        (void)net::IsSingleLine(line);
    }
    (void)net::SocketErrorText(static_cast<int>(size) + 10000);
    return 0;
}
