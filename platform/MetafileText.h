#pragma once
// Text in metafiles: the Symbol font's letters, and the fields that the font records of both
// formats share.
#include "platform/MetafilePlayer.h"

namespace platform::metafile {

// The Symbol font's letter or sign of an 8-bit code, at its Unicode place.
char16_t SymbolToUnicode(unsigned char c);

// The fields of a LOGFONT from `at`: five numbers of `numberBytes` each (2 in WMF, 4 in EMF;
// height, width, escapement, orientation, weight), then the italic, underline, strike-out
// and character-set bytes. The face name, stored differently by the two formats, is left
// to the caller.
FontSpec LogFontFields(const Rec& r, size_t at, size_t numberBytes);

}  // namespace platform::metafile
