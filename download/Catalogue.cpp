#include "download/Catalogue.h"

#include <iconv.h>
#include <limits.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Files.h"
#include "app/NameDisplay.h"
#include "search/ResultStore.h"

namespace download {
namespace {

// One conversion with iconv; on an invalid sequence `bad` is appended and the byte skipped.
bool Convert(const char* to, const char* from, const std::string& in, std::string& out, const std::string& bad) {
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        out = in;
        return false;
    }
    bool clean = true;
    std::string buffer(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer.data(), static_cast<size_t>(dst - buffer.data()));
        if (rc != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (a lead byte at the end): mark and step over one byte.
        clean = false;
        out += bad;
        ++src;
        --srcLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return clean;
}

bool IsSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace

std::string DecodeSjis(const std::string& bytes, bool* ok) {
    std::string out;
    bool clean = Convert("UTF-8", "CP932", bytes, out, "\xEF\xBF\xBD");
    if (ok) *ok = clean;
    return out;
}

bool EncodeSjis(const std::string& utf8, std::string& out) { return Convert("CP932", "UTF-8", utf8, out, "?"); }

std::string CutForShowing(const std::string& utf8, std::size_t chars) {
    // Characters are counted by their first bytes, so no character is split.
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
        if (seen++ == chars) return utf8.substr(0, i) + "\u2026";
    }
    return utf8;
}

Catalogue ParseCatalogue(const std::vector<std::string>& lines, int capacity) {
    Catalogue c;
    size_t k = 0;
    auto next = [&]() -> std::string { return k < lines.size() ? lines[k++] : std::string(); };
    c.message = CutForShowing(DecodeSjis(next()));
    do {
        Song s;
        s.file = next();
        s.display = CutForShowing(DecodeSjis(next()));
        if (static_cast<int>(c.songs.size()) < capacity)
            c.songs.push_back(std::move(s));
        else
            ++c.dropped;
    } while (k < lines.size());
    return c;
}

CatalogueReader::CatalogueReader(int capacity)
    : capacity_(capacity),
      keep_(1 + 2 * static_cast<std::size_t>(std::max(capacity, 0))),
      splitter_([this](const std::string& line) { Line(line); }, kCatalogueLineKeep, platform::LongLine::Cut) {}

void CatalogueReader::Line(const std::string& line) {
    if (lines_.size() < keep_)
        lines_.push_back(line);
    else
        ++beyond_;
}

void CatalogueReader::Pass(const char* data, std::size_t size) {
    if (size > 0) splitter_.Feed(data, size);
}

void CatalogueReader::PassCrs() {
    // In pieces: a run of CRs may be as long as the file.
    static const std::string crs(4096, '\r');
    for (; crs_ > 0; crs_ -= std::min(crs_, crs.size())) Pass(crs.data(), std::min(crs_, crs.size()));
}

bool CatalogueReader::Feed(const char* data, std::size_t size) {
    // Every run of CRs right before an LF becomes one CR LF, and so does an LF alone in a file
    // whose lines end in LF alone; other CRs stay as they are. The text reader then splits
    // the lines.
    out_.clear();
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r') {
            seenEnd_ = true;
            ++crs_;
            continue;
        }
        if (c == '\n') {
            // The first line end tells how the lines end. In a file of CR LF lines an LF alone
            // stays inside its line, as in any text file of the program.
            if (!seenEnd_) lfEnds_ = crs_ == 0;
            seenEnd_ = true;
            if (crs_ > 0 || lfEnds_) {
                out_ += "\r\n";
            } else {
                out_ += '\n';
            }
            crs_ = 0;
            continue;
        }
        if (crs_ > 0) {
            Pass(out_.data(), out_.size());
            out_.clear();
            PassCrs();
        }
        if (c == 26) {  // the data ends here
            out_ += c;
            Pass(out_.data(), out_.size());
            return false;
        }
        // A run of other bytes goes on as it stands, in one piece: a line may be megabytes.
        std::size_t end = i + 1;
        while (end < size && data[end] != '\r' && data[end] != '\n' && data[end] != 26) ++end;
        Pass(out_.data(), out_.size());
        out_.clear();
        Pass(data + i, end - i);
        i = end - 1;
    }
    Pass(out_.data(), out_.size());
    return true;
}

Catalogue CatalogueReader::Finish() {
    PassCrs();
    splitter_.Finish();
    Catalogue c = ParseCatalogue(lines_, capacity_);
    // The kept lines end with a whole pair, so further lines pair up among themselves.
    c.dropped += static_cast<int>(std::min<long long>((beyond_ + 1) / 2, 1 << 30));
    return c;
}

Catalogue ParseCatalogueText(std::string_view text, int capacity) {
    CatalogueReader reader(capacity);
    reader.Feed(text.data(), text.size());
    return reader.Finish();
}

Catalogue ReadCatalogue(const std::string& path, int capacity) {
    CatalogueReader reader(capacity);
    platform::ReadFileChunks(path, [&](const char* data, std::size_t size) { return reader.Feed(data, size); });
    return reader.Finish();
}

std::optional<std::string> SongNameProblem(const std::string& serverName) {
    if (serverName.empty()) return std::string("ファイル名がありません");
    for (unsigned char c : serverName) {
        if (c == '\r' || c == '\n') return std::string("ファイル名に改行が含まれています");
        if (c < 0x20 || c == 0x7F) return std::string("ファイル名に制御文字が含まれています");
    }
    // Trail bytes of double-byte characters may equal '\\' or '/', so the separators are
    // looked for character by character.
    for (size_t i = 0; i < serverName.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(serverName[i]);
        if (IsSjisLead(c)) {
            ++i;
            continue;
        }
        if (c == '/' || c == '\\') return std::string("ファイル名にパス区切りが含まれています");
    }
    bool clean = false;
    std::string local = DecodeSjis(serverName, &clean);
    if (!clean) return std::string("ファイル名の文字コードが不正です");
    if (local.size() >= 2 && local[1] == ':' &&
        ((local[0] >= 'A' && local[0] <= 'Z') || (local[0] >= 'a' && local[0] <= 'z')))
        return std::string("ファイル名がドライブから始まっています");
    if (local == "." || local == "..") return std::string("ファイル名が親フォルダを指しています");
    // The program's own files in the working folder are never overwritten by a song. Letter
    // case does not count: the stored lists and the log are looked up without it, and the
    // working folder may lie on a file system that ignores it.
    const std::string upper = store::UpperAscii(local);
    if (upper == "TEMP" || upper == "HEADER.TXT" || upper == "CHGCMD.TXT" || upper == "SEARCHVIEW" ||
        upper.rfind("SEARCHVIEW.", 0) == 0)
        return std::string("ファイル名がこのソフトのファイルと重なります");
    // Hidden files are the user's settings (the working folder may be the home folder) and
    // the program's lock and the lists' temporary files; no song is one.
    if (local[0] == '.') return std::string("ファイル名が「.」で始まっています");
    if (local.size() > NAME_MAX) return std::string("ファイル名が長すぎます");
    return std::nullopt;
}

std::string ShownSongName(const std::string& serverName) {
    return CutForShowing(platform::DisplayPath(DecodeSjis(serverName)), 80);
}

std::string LocalName(const std::string& serverName) { return DecodeSjis(serverName); }

}  // namespace download
