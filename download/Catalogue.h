#pragma once
// The music site's catalogue "header.txt" and the song file names it lists. The file is
// Shift-JIS: display lines are decoded for the screen; a song's file name goes to the server
// as the catalogue's bytes and is stored locally under its decoded (UTF-8) form.
#include <optional>
#include <string>
#include <vector>

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

struct Catalogue {
    std::string message;  // curator's message, decoded
    std::vector<Song> songs;
    // Songs that the catalogue listed beyond the table's room.
    int dropped = 0;
};

// The lines of the file as read (line 1 the message, then name and display line in pairs).
// A name without its display line, or a file that ends right after the message, gives a
// song with empty fields: at least one pair is always taken. At most `capacity` songs are
// kept; the rest are counted in `dropped`.
Catalogue ParseCatalogue(const std::vector<std::string>& lines, int capacity);

// The largest catalogue fetched: far beyond any real one (a song takes two short lines), small
// enough that a server sending without end neither fills the disk nor the memory.
inline constexpr long long kCatalogueLimit = 4 * 1024 * 1024;

// The catalogue file read as ParseCatalogue reads its lines. Lines past the table's room are
// only counted, so a file of countless lines costs no memory.
Catalogue ReadCatalogue(const std::string& path, int capacity);

// Why a catalogue file name must not be used, or nothing when it is safe: it must name one
// plain file in the working folder and be one command argument for the server.
std::optional<std::string> SongNameProblem(const std::string& serverName);

// The local file name of a song: the decoded server name.
std::string LocalName(const std::string& serverName);

}  // namespace download
