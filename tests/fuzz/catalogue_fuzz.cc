// Fuzzes the catalogue reader: any bytes, fed whole or in pieces, give one and the same
// catalogue of at most the table's songs, with no CR left inside a field and every line cut
// to a readable length; no accepted song name is hidden or the program's own; and the same
// lines sent with CR LF, CR CR LF or LF alone give the same songs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Compiled in here so that the reader carries the fuzzer's coverage instrumentation.
#include "download/Catalogue.cpp"
#include "platform/Exceptions.cpp"
#include "platform/Files.cpp"
#include "app/NameDisplay.cpp"
#include "platform/SharedLog.cpp"
#include "search/ResultStore.cpp"

namespace {

bool Same(const download::Catalogue& a, const download::Catalogue& b) {
    if (a.message != b.message || a.dropped != b.dropped || a.songs.size() != b.songs.size()) return false;
    for (std::size_t i = 0; i < a.songs.size(); ++i)
        if (a.songs[i].file != b.songs[i].file || a.songs[i].display != b.songs[i].display) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int capacity = data[0] % 8;  // small tables reach the counting of dropped songs
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const download::Catalogue whole = download::ParseCatalogueText(text, capacity);
    if (whole.songs.size() > static_cast<std::size_t>(capacity)) __builtin_trap();
    // Every line reaches the screen cut to a readable length, however long it ran.
    auto chars = [](const std::string& utf8) {
        return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    };
    if (chars(whole.message) > download::kShownLineChars + 1) __builtin_trap();
    for (const auto& s : whole.songs) {
        if (s.file.find('\r') != std::string::npos) __builtin_trap();
        if (s.file.size() > download::kCatalogueLineKeep) __builtin_trap();
        if (chars(s.display) > download::kShownLineChars + 1) __builtin_trap();
        // A name that is refused is not shown whole either.
        if (chars(download::ShownSongName(s.file)) > 81) __builtin_trap();
        // No accepted name is hidden or one of the program's files.
        if (!download::SongNameProblem(s.file)) {
            const std::string local = download::LocalName(s.file);
            const std::string upper = store::UpperAscii(local);
            if (local.empty() || local[0] == '.' || upper == "TEMP" || upper == "HEADER.TXT" ||
                (upper.rfind("SEARCHVIEW", 0) == 0 && (upper.size() == 10 || upper[10] == '.')))
                __builtin_trap();
        }
    }

    // Pieces whose sizes come from the data itself.
    download::CatalogueReader pieces(capacity);
    for (std::size_t at = 0, step = 1; at < text.size(); at += step) {
        step = 1 + static_cast<unsigned char>(text[at]) % 7;
        if (!pieces.Feed(text.data() + at, std::min(step, text.size() - at))) break;
    }
    if (!Same(whole, pieces.Finish())) __builtin_trap();

    // The same lines with each form of line end (lines without CR, LF or code 26 inside).
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n') lines.emplace_back();
        else if (c != '\r' && c != 26) lines.back() += c;
    }
    const download::Catalogue* first = nullptr;
    download::Catalogue forms[3];
    const char* ends[3] = {"\r\n", "\r\r\n", "\n"};
    for (int f = 0; f < 3; ++f) {
        std::string joined;
        for (const auto& l : lines) joined += l + ends[f];
        forms[f] = download::ParseCatalogueText(joined, capacity);
        if (first && !Same(*first, forms[f])) __builtin_trap();
        first = &forms[f];
    }
    return 0;
}
