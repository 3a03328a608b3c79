#pragma once
// The parts of a metafile as the reader and the players see them: the header's facts, one
// record with reads checked against its bounds, and the walk from record to record.
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pictures/metafile/Metafile.h"

namespace platform {

struct Metafile::Header {
    size_t firstRecord = 0;  // offset of the first record after the headers
    QRectF frame;            // WMF: logical units of the picture; EMF: reference device pixels
    double dpmmX = 96 / 25.4, dpmmY = 96 / 25.4;  // EMF reference device pixels a millimetre
    int wmfObjects = 0;
    // EMF+ drawing in comment records: played instead of the EMF records (but for those after
    // a GetDC record) when `playPlus`.
    bool plus = false, plusDual = false, playPlus = false;
    double plusDpiX = 96, plusDpiY = 96;
};

namespace metafile {

// One record: every read is checked against the record's own length, and a field that lies
// outside it reads as zero.
struct Rec {
    const unsigned char* p = nullptr;
    size_t n = 0;
    size_t offset = 0;  // of the record in the file
    uint32_t type = 0;

    bool Has(size_t off, size_t len) const { return off <= n && len <= n - off; }
    uint16_t U16(size_t o) const { return Has(o, 2) ? static_cast<uint16_t>(p[o] | p[o + 1] << 8) : 0; }
    int16_t I16(size_t o) const { return static_cast<int16_t>(U16(o)); }
    uint32_t U32(size_t o) const {
        return Has(o, 4) ? static_cast<uint32_t>(p[o]) | static_cast<uint32_t>(p[o + 1]) << 8 |
                               static_cast<uint32_t>(p[o + 2]) << 16 | static_cast<uint32_t>(p[o + 3]) << 24
                         : 0;
    }
    int32_t I32(size_t o) const { return static_cast<int32_t>(U32(o)); }
    double F32(size_t o) const {
        const uint32_t bits = U32(o);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return std::isfinite(f) ? f : 0.0;
    }
    // WMF parameters: 16-bit words after the size and the function.
    int W(size_t i) const { return I16(6 + 2 * i); }
};

// Limits of one record, far past what real drawings hold, that keep a small file from taking
// gigabytes or minutes.
constexpr uint64_t kMaxPoints = 2'000'000;
constexpr uint64_t kMaxRegionRects = 16384;
constexpr uint32_t kMaxTextChars = 65536;

// Raises EInvalidGraphic with the kind of file named before the reason.
[[noreturn]] void Refuse(MetafileKind kind, const std::string& reason);

// Calls f for each record from `first`; false when a record runs past the file.
template <class F>
bool ForEachRecord(const QByteArray& bytes, MetafileKind kind, size_t first, F&& f) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const size_t size = static_cast<size_t>(bytes.size());
    size_t pos = first;
    const bool emf = kind == MetafileKind::Emf;
    const size_t headLength = emf ? 8 : 6;
    while (size - pos >= headLength) {
        Rec head{data + pos, size - pos, pos, 0};
        const uint64_t length = emf ? head.U32(4) : static_cast<uint64_t>(head.U32(0)) * 2;
        const uint32_t type = emf ? head.U32(0) : head.U16(4);
        if (length < headLength || length > size - pos) return false;
        f(Rec{data + pos, static_cast<size_t>(length), pos, type});
        if ((emf && type == 14) || (!emf && type == 0)) return true;  // end of file
        pos += static_cast<size_t>(length);
    }
    // A file that ends with its last whole record but lacks the end record still plays.
    return true;
}

// `count` points from `off`, as 16-bit (`small`) or 32-bit pairs; none when they do not all
// lie within the record, or when there are far more than any drawing has.
std::vector<QPointF> Points(const Rec& r, size_t off, uint64_t count, bool small);
// A rectangle stored as left, top, right, bottom in 32 bits each.
QRectF RectL(const Rec& r, size_t off);
// RGNDATA: a header of 32 bytes, then its rectangles.
QPainterPath RegionRects(const Rec& r, size_t off, uint32_t length);

// Records that set the window before anything is drawn give a plain WMF its frame.
bool IsWmfSetup(uint32_t type);

}  // namespace metafile

}  // namespace platform
