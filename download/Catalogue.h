#pragma once
// The music site's catalogue "header.txt" and the song file names it lists. The file is
// Shift-JIS: display lines are decoded for the screen; a song's file name goes to the server
// as the catalogue's bytes and is stored locally under its decoded (UTF-8) form.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"

namespace download {

// Shift-JIS (code page 932) to UTF-8. Undecodable bytes become U+FFFD; `ok` tells whether
// the text was clean.
std::string DecodeSjis(const std::string& bytes, bool* ok = nullptr);
// UTF-8 to Shift-JIS; false when a character has no Shift-JIS form.
bool EncodeSjis(const std::string& utf8, std::string& out);

struct Song {
    std::string file;     // server file name, catalogue bytes
    std::string display;  // display line, decoded
};

// A catalogue line is shown cut to this many characters, the cut marked with "…": a longer
// line is no message or song a user reads, and the memo and the list would spend minutes
// laying out a line of megabytes.
inline constexpr std::size_t kShownLineChars = 1000;

// The longest catalogue line kept, in bytes: more than kShownLineChars characters of
// Shift-JIS, so that a cut line still shows as cut; the rest of a line is read past.
inline constexpr std::size_t kCatalogueLineKeep = 4096;

// `utf8` cut to `chars` characters with "…" after them when it is longer.
std::string CutForShowing(const std::string& utf8, std::size_t chars = kShownLineChars);

struct Catalogue {
    std::string message;  // curator's message, decoded
    std::vector<Song> songs;
    // Songs that the catalogue listed beyond the table's room.
    int dropped = 0;
};

// The lines of the file as read (line 1 the message, then name and display line in pairs).
// The message and the display lines are cut for showing (CutForShowing).
// A name without its display line, or a file that ends right after the message, gives a
// song with empty fields: at least one pair is always taken. At most `capacity` songs are
// kept; the rest are counted in `dropped`.
Catalogue ParseCatalogue(const std::vector<std::string>& lines, int capacity);

// The largest catalogue fetched: far beyond any real one (a song takes two short lines), small
// enough that a server sending without end neither fills the disk nor the memory.
inline constexpr long long kCatalogueLimit = 4 * 1024 * 1024;

// Catalogue text fed in pieces of any size. Lines end as in any text file of the program, and
// also where a server's text-mode transfer changed the line ends: CR CR LF ends a line like
// CR LF, and so does LF alone in a file whose first line ends so; the catalogue lists the same
// songs however it travelled. Lines past the
// table's room are only counted, so text of countless lines costs no memory.
class CatalogueReader {
public:
    explicit CatalogueReader(int capacity);
    // False once the data has ended (a character of code 26).
    bool Feed(const char* data, std::size_t size);
    Catalogue Finish();

private:
    void Line(const std::string& line);
    void Pass(const char* data, std::size_t size);
    void PassCrs();

    int capacity_;
    std::size_t keep_;
    std::vector<std::string> lines_;
    long long beyond_ = 0;
    std::size_t crs_ = 0;  // CRs not yet passed on: they may belong to a CR CR LF
    bool seenEnd_ = false;  // a CR or LF has been seen
    bool lfEnds_ = false;   // the first line ended in LF alone: so do all
    platform::TextLineSplitter splitter_;
    std::string out_;
};

Catalogue ParseCatalogueText(std::string_view text, int capacity);

// The catalogue file read with CatalogueReader.
Catalogue ReadCatalogue(const std::string& path, int capacity);

// Why a catalogue file name must not be used, or nothing when it is safe: it must name one
// plain file in the working folder and be one command argument for the server, and never
// one of the program's own files there or a hidden file (the user's dot files when the
// program works in the home folder, the lock, the lists' temporary files).
std::optional<std::string> SongNameProblem(const std::string& serverName);

// A song's file name as a status text may show it, whatever the catalogue holds: decoded,
// control characters escaped, cut to a readable length.
std::string ShownSongName(const std::string& serverName);

// The local file name of a song: the decoded server name.
std::string LocalName(const std::string& serverName);

}  // namespace download
