#include "pictures/metafile/MetafileRecord.h"

#include <algorithm>

#include "pictures/Pictures.h"

namespace platform::metafile {

void Refuse(MetafileKind kind, const std::string& reason) {
    throw EInvalidGraphic((kind == MetafileKind::Emf ? "EMF: " : "WMF: ") + reason);
}

std::vector<QPointF> Points(const Rec& r, size_t off, uint64_t count, bool small) {
    std::vector<QPointF> pts;
    const size_t each = small ? 4 : 8;
    // Far more points than any drawing has would take gigabytes as a path: passed over.
    if (count > kMaxPoints || count > r.n / each || !r.Has(off, count * each)) return pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t o = off + i * each;
        pts.emplace_back(small ? r.I16(o) : r.I32(o), small ? r.I16(o + 2) : r.I32(o + 4));
    }
    return pts;
}

QRectF RectL(const Rec& r, size_t off) {
    return QRectF(QPointF(r.I32(off), r.I32(off + 4)), QPointF(r.I32(off + 8), r.I32(off + 12)));
}

// RGNDATA: a header of 32 bytes, then its rectangles.
QPainterPath RegionRects(const Rec& r, size_t off, uint32_t length) {
    QPainterPath p;
    p.setFillRule(Qt::WindingFill);
    if (!r.Has(off, length) || length < 32) return p;
    const uint64_t count = std::min<uint64_t>({r.U32(off + 8), (length - 32) / 16, kMaxRegionRects});
    for (uint64_t i = 0; i < count; ++i) p.addRect(RectL(r, off + 32 + static_cast<size_t>(i) * 16).normalized());
    return p;
}

}  // namespace platform::metafile
