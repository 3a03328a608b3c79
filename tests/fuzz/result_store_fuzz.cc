// Fuzzes the stored-list reader: any bytes, fed whole or in pieces, give the same lines; no
// line holds a CR or a character of code 26; a list written from those lines reads back the
// same; and dropping an unended last line only ever removes that line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Compiled in here so that the reader carries the fuzzer's coverage instrumentation.
#include "platform/Exceptions.cpp"
#include "platform/Files.cpp"

namespace {

std::vector<std::string> Read(std::string_view text, std::size_t piece, bool dropUnended) {
    std::vector<std::string> lines;
    platform::TextLineSplitter split([&](const std::string& l) { lines.push_back(l); });
    bool ended = false;
    for (std::size_t at = 0; at < text.size() && !ended; at += piece)
        ended = !split.Feed(text.data() + at, std::min(piece, text.size() - at));
    if (!ended) split.Finish(dropUnended);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + data[0] % 13;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto whole = Read(text, text.size() + 1, false);
    if (whole.empty()) __builtin_trap();  // the first line is read before the end test
    for (const auto& l : whole)
        if (l.find_first_of("\r\x1a") != std::string::npos) __builtin_trap();
    if (Read(text, piece, false) != whole) __builtin_trap();

    // Written as the store writes a list, the lines read back unchanged (an empty list of
    // one empty line aside, which writes as one line end).
    std::string written;
    for (const auto& l : whole) written += l + "\r\n";
    if (Read(written, piece, false) != whole) __builtin_trap();
    if (Read(written, piece, true) != whole) __builtin_trap();

    // Whole lines only: the same lines, at most the last one fewer.
    const auto kept = Read(text, piece, true);
    if (kept.size() + 1 < whole.size() || kept.size() > whole.size()) __builtin_trap();
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (kept[i] != whole[i]) __builtin_trap();
    return 0;
}
