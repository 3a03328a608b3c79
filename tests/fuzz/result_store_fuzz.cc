// Fuzzes the stored-list reader: any bytes, fed whole or in pieces or with their NUL runs as
// holes, give the same lines; no line holds a CR or a character of code 26; a length limit
// only skips or cuts the lines past it; a list written from those lines reads back the same;
// and dropping an unended last line only ever removes that line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"

namespace {

using platform::LongLine;

// With `nulsAsHoles`, every run of NUL bytes is fed as a hole of a sparse file reads.
std::vector<std::string> Read(std::string_view text, std::size_t piece, bool dropUnended,
                              std::size_t limit = platform::kLongestLine, LongLine longLine = LongLine::Skip,
                              bool nulsAsHoles = false) {
    std::vector<std::string> lines;
    platform::TextLineSplitter split([&](const std::string& l) { lines.push_back(l); }, limit, longLine);
    bool ended = false;
    for (std::size_t at = 0; at < text.size() && !ended;) {
        if (nulsAsHoles && text[at] == '\0') {
            std::size_t run = 0;
            while (at + run < text.size() && text[at + run] == '\0') ++run;
            split.FeedNuls(run);
            at += run;
            continue;
        }
        std::size_t n = std::min(piece, text.size() - at);
        if (nulsAsHoles) n = std::min(n, text.find('\0', at) - at);
        ended = !split.Feed(text.data() + at, n);
        at += n;
    }
    if (!ended) split.Finish(dropUnended);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + data[0] % 13;
    const std::size_t limit = 1 + (data[0] / 13) * 3;  // short limits reach the long lines
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t unbounded = static_cast<std::size_t>(-1);
    const auto all = Read(text, text.size() + 1, false, unbounded);
    if (all.empty()) __builtin_trap();  // the first line is read before the end test
    for (const auto& l : all)
        if (l.find_first_of("\r\x1a") != std::string::npos) __builtin_trap();
    const auto whole = Read(text, text.size() + 1, false);
    if (Read(text, piece, false) != whole) __builtin_trap();
    if (Read(text, piece, false, platform::kLongestLine, LongLine::Skip, true) != whole) __builtin_trap();

    // A limit skips the lines longer than it, or keeps their beginnings; nothing else changes.
    std::vector<std::string> skipped, cut;
    for (const auto& l : all) {
        if (l.size() <= limit) skipped.push_back(l);
        cut.push_back(l.substr(0, limit));
    }
    if (Read(text, piece, false, limit, LongLine::Skip) != skipped) __builtin_trap();
    if (Read(text, piece, false, limit, LongLine::Skip, true) != skipped) __builtin_trap();
    if (Read(text, piece, false, limit, LongLine::Cut) != cut) __builtin_trap();
    if (Read(text, piece, false, limit, LongLine::Cut, true) != cut) __builtin_trap();

    // Written as the store writes a list, the lines read back unchanged (an empty list of
    // one empty line aside, which writes as one line end).
    std::string written;
    for (const auto& l : whole) written += l + "\r\n";
    if (!whole.empty() && Read(written, piece, false) != whole) __builtin_trap();
    if (!whole.empty() && Read(written, piece, true) != whole) __builtin_trap();

    // Whole lines only: the same lines, at most the last one fewer.
    const auto kept = Read(text, piece, true);
    if (kept.size() + 1 < whole.size() || kept.size() > whole.size()) __builtin_trap();
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (kept[i] != whole[i]) __builtin_trap();
    return 0;
}
