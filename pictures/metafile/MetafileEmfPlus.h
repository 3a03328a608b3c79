#pragma once
// EMF+: the drawing records GDI+ writes inside EMF comment records. Every record and object
// is read within its own bounds; objects live in a table of 64 places and may be split over
// several records.
#include <QBrush>
#include <QByteArray>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QTransform>
#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>

#include "pictures/metafile/MetafileRecord.h"

namespace platform::metafile {

constexpr uint32_t kPlusComment = 0x2B464D45;  // "EMF+" at the start of a comment's data
constexpr size_t kPlusObjects = 64;

// One EMF+ record: its type and flags, and its data as a bounded record whose offset is the
// record's place in the file.
struct PlusRec {
    uint16_t type = 0, flags = 0;
    Rec data;
};

// Calls f for each EMF+ record of an EMF comment; false when a record runs past the comment.
// Comments of other kinds hold none.
template <class F>
bool ForEachPlusRecord(const Rec& comment, F&& f) {
    if (comment.type != 70 || comment.U32(12) != kPlusComment) return true;
    const uint64_t end = std::min<uint64_t>(comment.n, 12 + static_cast<uint64_t>(comment.U32(8)));
    size_t at = 16;
    while (at + 12 <= end) {
        const uint32_t size = comment.U32(at + 4), dataSize = comment.U32(at + 8);
        if (size < 12 || size > end - at || dataSize > size - 12) return false;
        f(PlusRec{comment.U16(at), comment.U16(at + 2),
                  Rec{comment.p + at + 12, dataSize, comment.offset + at, comment.U16(at)}});
        at += size;
    }
    return true;
}

// Objects larger than one record come in pieces, each but the last flagged as continued and
// opening with the whole object's size. Gives the whole object when its last piece arrives.
class PlusPieces {
public:
    std::optional<QByteArray> Add(const PlusRec& r);

private:
    int id_ = -1;
    uint64_t total_ = 0;
    QByteArray data_;
};

// What reading the file found of its EMF+ drawing.
struct PlusScan {
    bool seen = false, dual = false;
    double dpiX = 96, dpiY = 96;
    int drawn = 0;            // drawing records that can be played
    std::string unplayable;  // the first thing that cannot, said for the user
    PlusPieces pieces;
    std::array<int, kPlusObjects> kinds{};  // object type of each place; -1 an image that does not draw
};

// Reads the EMF+ records of one EMF record: notes what they draw and decodes their images into
// `images` by the place of the record that completes them, charging the budget `left`.
void ScanPlus(const Rec& r, PlusScan& scan, qint64& left, std::map<size_t, Metafile::Bitmap>& images);

struct PlusBrush {
    QBrush brush;
    std::optional<QColor> back;  // a hatch's background
};

struct PlusObject {
    enum Type { None, Brush, Pen, Path, Region, Image, Font, Format } type = None;
    PlusBrush brush;
    QPen pen;              // without width: that is `penWidth`, in world units
    double penWidth = 0;   // 0 draws one pixel
    QPainterPath path;     // of a path or a region, in world units
    const QImage* image = nullptr;
    QString family;
    double emSize = 0;
    int unit = 0, style = 0;
    int align = 0, lineAlign = 0;
    bool noWrap = false;
};

// The graphics state EMF+ keeps apart from the EMF one.
struct PlusState {
    QTransform world;
    int pageUnit = 1;
    double pageScale = 1;
    std::optional<QPainterPath> clip;
};

}  // namespace platform::metafile
