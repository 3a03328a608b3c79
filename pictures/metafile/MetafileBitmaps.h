#pragma once
// The bitmaps that metafile records carry, decoded once when the file is read.
#include <optional>

#include "pictures/metafile/MetafileRecord.h"

namespace platform::metafile {

// The bitmap of a record that holds one, decoded; nothing for other records and for bitmaps
// that do not decode. The pixels it takes are charged to `left` first; past it the file is
// refused.
std::optional<Metafile::Bitmap> BitmapOfRecord(const Rec& r, MetafileKind kind, qint64& left);
// The monochrome mask of an EMF MaskBlt or PlgBlt, decoded the same way.
std::optional<Metafile::Bitmap> MaskOfRecord(const Rec& r, qint64& left);

}  // namespace platform::metafile
