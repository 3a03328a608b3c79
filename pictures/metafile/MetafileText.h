#pragma once
// Text in metafiles: the symbol fonts' tables, and the fields that the font records of both
// formats share.
#include "pictures/metafile/MetafilePlayer.h"

namespace platform::metafile {

// The faces whose codes are signs of their own rather than letters of a character set.
// Other: a face of the symbol character set this player has no table for.
enum class SymbolFace { None, Symbol, MtExtra, Wingdings, Webdings, Other };
SymbolFace SymbolFaceOf(const FontSpec& f);

// The sign an 8-bit code stands for in `face`, at its Unicode place, or in the private use
// area (0xF000 and the code, as Windows places it) where no Unicode sign is known.
char32_t SymbolCode(SymbolFace face, unsigned char c);

// The fields of a LOGFONT from `at`: five numbers of `numberBytes` each (2 in WMF, 4 in EMF;
// height, width, escapement, orientation, weight), then the italic, underline, strike-out
// and character-set bytes. The face name, stored differently by the two formats, is left
// to the caller.
FontSpec LogFontFields(const Rec& r, size_t at, size_t numberBytes);

}  // namespace platform::metafile
