#pragma once
// Helpers the search handlers share.
#include <QString>
#include <string>

class TForm1;

namespace search {

// The extension box's text as bytes.
std::string BoxText(const TForm1& form);

// True when an entry holds the keyword (lowered in ASCII): in its bytes, or in the text the
// check list shows for it, so that a name read as Shift-JIS is found by what the user reads.
bool EntryMatches(const std::string& entry, const std::string& lowerKeyword);

// The 15 patterns of the automatic search, in order.
inline constexpr const char* kAutoPatterns[] = {"*.BMP", "*.ICO", "*.WMP", "*.EMF", "*.GIF",
                                                "*.JPG", "*.XLS", "*.DOC", "*.MPG", "*.DAT",
                                                "*.MOV", "*.AVI", "*.MID", "*.MP3", "*.WAV"};
inline constexpr int kAutoPatternCount = 15;

}  // namespace search
