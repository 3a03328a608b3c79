#pragma once
// How a path's bytes read on screen. File names on Linux are bytes: normally UTF-8, but
// files copied from a Japanese Windows machine often carry Shift-JIS names. Only the text
// shown changes; the bytes stay as they are for storing, opening and deleting.
#include <string>
#include <string_view>

namespace platform {

// The path as UTF-8 text for display, taken name by name between the separators: a name
// that is UTF-8 shows as it is, else as Shift-JIS (code page 932) where that decodes
// cleanly, else its UTF-8 runs as they are and every other byte as "\xHH". Control
// characters and the invisible direction marks, which would hide or reorder what the
// user reads, show escaped too ("\x0A", "\u202E").
std::string DisplayPath(std::string_view bytes);

// The code page 932 reading of `bytes` as UTF-8; false when they are not valid there.
bool DecodeCp932(std::string_view bytes, std::string& utf8);

}  // namespace platform
