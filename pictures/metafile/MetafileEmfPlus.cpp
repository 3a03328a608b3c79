#include "pictures/metafile/MetafileEmfPlus.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QImageReader>
#include <QLinearGradient>
#include <cmath>
#include <cstdio>

#include "pictures/metafile/MetafilePlayer.h"

namespace platform::metafile {

namespace {

// Record types.
enum : uint16_t {
    kHeader = 0x4001, kEndOfFile = 0x4002, kGetDc = 0x4004, kObject = 0x4008, kClear = 0x4009,
    kFillRects = 0x400A, kDrawRects = 0x400B, kFillPolygon = 0x400C, kDrawLines = 0x400D,
    kFillEllipse = 0x400E, kDrawEllipse = 0x400F, kFillPie = 0x4010, kDrawPie = 0x4011, kDrawArc = 0x4012,
    kFillRegion = 0x4013, kFillPath = 0x4014, kDrawPath = 0x4015, kFillClosedCurve = 0x4016,
    kDrawClosedCurve = 0x4017, kDrawCurve = 0x4018, kDrawBeziers = 0x4019, kDrawImage = 0x401A,
    kDrawImagePoints = 0x401B, kDrawString = 0x401C, kSave = 0x4025, kRestore = 0x4026,
    kBeginContainer = 0x4027, kBeginContainerNoParams = 0x4028, kEndContainer = 0x4029,
    kSetWorldTransform = 0x402A, kResetWorldTransform = 0x402B, kMultiplyWorldTransform = 0x402C,
    kTranslateWorldTransform = 0x402D, kScaleWorldTransform = 0x402E, kRotateWorldTransform = 0x402F,
    kSetPageTransform = 0x4030, kResetClip = 0x4031, kSetClipRect = 0x4032, kSetClipPath = 0x4033,
    kSetClipRegion = 0x4034, kOffsetClip = 0x4035, kDrawDriverString = 0x4036,
};

// Flags of the drawing records.
constexpr uint16_t kColourGiven = 0x8000;  // the brush field holds a colour, not an object
constexpr uint16_t kShort = 0x4000;        // coordinates in 16-bit integers
constexpr uint16_t kRelative = 0x0800;     // points relative to the one before
constexpr uint16_t kAppend = 0x2000;       // a transform applied after the world one

// Object types.
enum : int { kBrushObject = 1, kPenObject, kPathObject, kRegionObject, kImageObject, kFontObject, kFormatObject };

// Regions far larger or deeper than any drawing's: a small file cannot take minutes or the stack.
constexpr uint64_t kMaxRegionNodes = 4096;
constexpr int kMaxRegionDepth = 64;

bool IsDrawing(uint16_t type) {
    return (type >= kClear && type <= kDrawString) || type == kDrawDriverString;
}

bool IsKnown(uint16_t type) {
    return (type >= kHeader && type <= 0x4024) || (type >= kSave && type <= kDrawDriverString) || type == 0x4037 ||
           type == 0x4038 || type == 0x4039 || type == 0x403A;
}

QRectF RectF(const Rec& d, size_t at) { return QRectF(d.F32(at), d.F32(at + 4), d.F32(at + 8), d.F32(at + 12)); }

QTransform Matrix(const Rec& d, size_t at) {
    return QTransform(d.F32(at), d.F32(at + 4), d.F32(at + 8), d.F32(at + 12), d.F32(at + 16), d.F32(at + 20));
}

// `count` points from `at`: floats, 16-bit integers, or relative steps of one or two bytes
// each. None when they do not all lie within the data. `end` gets the offset after them.
std::vector<QPointF> PlusPoints(const Rec& d, size_t at, uint64_t count, uint16_t flags, size_t* end = nullptr) {
    std::vector<QPointF> pts;
    if (count > kMaxPoints || count > d.n) return pts;
    if (flags & kRelative) {
        QPointF p;
        size_t o = at;
        const auto step = [&](double& out) {
            if (!d.Has(o, 1)) return false;
            const unsigned char b = d.p[o];
            if (b & 0x80) {
                if (!d.Has(o, 2)) return false;
                int v = (b & 0x7F) << 8 | d.p[o + 1];
                if (v & 0x4000) v -= 0x8000;
                out = v;
                o += 2;
            } else {
                out = (b & 0x40) ? b - 0x80 : b;
                o += 1;
            }
            return true;
        };
        pts.reserve(count);
        for (uint64_t i = 0; i < count; ++i) {
            double dx = 0, dy = 0;
            if (!step(dx) || !step(dy)) return {};
            p += QPointF(dx, dy);
            pts.push_back(p);
        }
        if (end) *end = o;
        return pts;
    }
    const size_t each = (flags & kShort) ? 4 : 8;
    if (!d.Has(at, count * each)) return pts;
    pts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t o = at + i * each;
        pts.emplace_back(each == 4 ? d.I16(o) : d.F32(o), each == 4 ? d.I16(o + 2) : d.F32(o + 4));
    }
    if (end) *end = at + count * each;
    return pts;
}

// `count` rectangles from `at`, as floats or 16-bit integers.
std::vector<QRectF> PlusRects(const Rec& d, size_t at, uint64_t count, bool small) {
    std::vector<QRectF> rects;
    const size_t each = small ? 8 : 16;
    if (count > kMaxPoints || count > d.n / each || !d.Has(at, count * each)) return rects;
    for (size_t i = 0; i < count; ++i) {
        const size_t o = at + i * each;
        rects.push_back(small ? QRectF(d.I16(o), d.I16(o + 2), d.I16(o + 4), d.I16(o + 6)) : RectF(d, o));
    }
    return rects;
}

// A cardinal spline through points, as Bézier pieces: each tangent is the tension times the
// chord between the neighbours.
QPainterPath Curve(const std::vector<QPointF>& p, double tension, bool closed, size_t first = 0, size_t segments = SIZE_MAX) {
    QPainterPath path;
    const size_t n = p.size();
    if (n < 2) return path;
    const auto at = [&](int64_t i) {
        if (closed) return p[static_cast<size_t>((i % static_cast<int64_t>(n) + static_cast<int64_t>(n)) % static_cast<int64_t>(n))];
        return p[static_cast<size_t>(std::clamp<int64_t>(i, 0, static_cast<int64_t>(n) - 1))];
    };
    const size_t last = closed ? n : n - 1;
    segments = std::min(segments, last > first ? last - first : 0);
    const double t = tension / 3;
    path.moveTo(at(static_cast<int64_t>(first)));
    for (size_t s = first; s < first + segments; ++s) {
        const auto i = static_cast<int64_t>(s);
        path.cubicTo(at(i) + t * (at(i + 1) - at(i - 1)), at(i + 1) - t * (at(i + 2) - at(i)), at(i + 1));
    }
    if (closed) path.closeSubpath();
    return path;
}

double UnitPixels(int unit, double dpi) {
    switch (unit) {
    case 3: return dpi / 72;    // point
    case 4: return dpi;         // inch
    case 5: return dpi / 300;   // document
    case 6: return dpi / 25.4;  // millimetre
    default: return 1;          // world, display and pixel
    }
}

QColor Argb(uint32_t v) { return QColor::fromRgba(v); }

// A brush object from `at`.
std::optional<PlusBrush> ParseBrush(const Rec& d, size_t at) {
    if (!d.Has(at, 12)) return std::nullopt;
    const uint32_t type = d.U32(at + 4);
    PlusBrush b;
    switch (type) {
    case 0: b.brush = QBrush(Argb(d.U32(at + 8))); break;
    case 1:  // hatch: style, fore and back colours
        if (!d.Has(at + 8, 12)) return std::nullopt;
        b.brush = HatchBrush(static_cast<int>(d.U32(at + 8)), Argb(d.U32(at + 12)));
        if (d.U32(at + 8) > 5) b.brush.setStyle(Qt::Dense4Pattern);
        b.back = Argb(d.U32(at + 16));
        break;
    case 3:  // path gradient: its centre colour stands for it
        if (!d.Has(at + 8, 12)) return std::nullopt;
        b.brush = QBrush(Argb(d.U32(at + 16)));
        break;
    case 4: {  // linear gradient across a rectangle, from the start colour to the end colour
        const size_t o = at + 8;
        if (!d.Has(o, 40)) return std::nullopt;
        const uint32_t flags = d.U32(o), wrap = d.U32(o + 4);
        const QRectF rect = RectF(d, o + 8);
        QLinearGradient g(rect.left(), rect.top(), rect.right(), rect.top());
        const QColor from = Argb(d.U32(o + 24)), to = Argb(d.U32(o + 28));
        g.setColorAt(0, from);
        g.setColorAt(1, to);
        g.setSpread(wrap == 0 ? QGradient::RepeatSpread : wrap <= 3 ? QGradient::ReflectSpread : QGradient::PadSpread);
        size_t x = o + 40;
        QTransform placed;
        if (flags & 0x02) {
            if (!d.Has(x, 24)) return std::nullopt;
            placed = Matrix(d, x);
            x += 24;
        }
        if (flags & 0x0C) {  // preset colours, or blend factors along the gradient
            const uint64_t count = d.U32(x);
            if (count > 4096 || !d.Has(x + 4, count * 8)) return std::nullopt;
            g.setStops({});
            for (size_t i = 0; i < count; ++i) {
                const double pos = std::clamp(d.F32(x + 4 + 4 * i), 0.0, 1.0);
                const size_t v = x + 4 + 4 * count + 4 * i;
                if (flags & 0x04) {
                    g.setColorAt(pos, Argb(d.U32(v)));
                } else {
                    const double f = std::clamp(d.F32(v), 0.0, 1.0);
                    g.setColorAt(pos, QColor::fromRgbF(static_cast<float>(from.redF() + f * (to.redF() - from.redF())),
                                                       static_cast<float>(from.greenF() + f * (to.greenF() - from.greenF())),
                                                       static_cast<float>(from.blueF() + f * (to.blueF() - from.blueF())),
                                                       static_cast<float>(from.alphaF() + f * (to.alphaF() - from.alphaF()))));
                }
            }
            if (g.stops().isEmpty()) g.setStops({{0.0, from}, {1.0, to}});
        }
        if (rect.width() == 0 || rect.height() == 0) {
            b.brush = QBrush(from);
        } else {
            b.brush = QBrush(g);
            b.brush.setTransform(placed);
        }
        break;
    }
    default:  // a texture: mid grey stands for its picture
        b.brush = QBrush(QColor(128, 128, 128));
        break;
    }
    return b;
}

// A pen object: its width and style, then the brush that fills its lines.
std::optional<PlusObject> ParsePen(const Rec& d, double dpi) {
    if (!d.Has(0, 20)) return std::nullopt;
    const uint32_t flags = d.U32(8);
    const int unit = static_cast<int>(d.U32(12));
    PlusObject o;
    o.type = PlusObject::Pen;
    o.penWidth = std::abs(d.F32(16)) * (unit == 0 ? 1 : UnitPixels(unit, dpi));
    size_t at = 20;
    const auto take = [&](size_t bytes) {
        const size_t here = at;
        at += bytes;
        return here;
    };
    Qt::PenCapStyle cap = Qt::FlatCap;
    Qt::PenJoinStyle join = Qt::MiterJoin;
    Qt::PenStyle style = Qt::SolidLine;
    QList<qreal> dashes;
    if (flags & 0x01) take(24);
    if (flags & 0x02) {
        const uint32_t c = d.U32(take(4));
        cap = c == 1 ? Qt::SquareCap : c == 2 ? Qt::RoundCap : Qt::FlatCap;
    }
    if (flags & 0x04) take(4);
    if (flags & 0x08) {
        const uint32_t j = d.U32(take(4));
        join = j == 1 ? Qt::BevelJoin : j == 2 ? Qt::RoundJoin : Qt::MiterJoin;
    }
    if (flags & 0x10) take(4);
    if (flags & 0x20) {
        static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine, Qt::DashDotDotLine};
        const uint32_t s = d.U32(take(4));
        style = s < 5 ? styles[s] : Qt::SolidLine;
    }
    if (flags & 0x40) take(4);
    if (flags & 0x80) take(4);
    if (flags & 0x100) {
        const uint64_t count = d.U32(take(4));
        if (count > 1024 || !d.Has(at, count * 4)) return std::nullopt;
        for (size_t i = 0; i < count; ++i) dashes.push_back(std::max(d.F32(take(4)), 0.01));
    }
    if (flags & 0x200) take(4);
    if (flags & 0x400) {
        const uint64_t count = d.U32(take(4));
        if (count > 1024) return std::nullopt;
        take(static_cast<size_t>(count) * 4);
    }
    if (flags & 0x800) take(d.U32(at) > d.n ? d.n : 4 + d.U32(at));
    if (flags & 0x1000) take(d.U32(at) > d.n ? d.n : 4 + d.U32(at));
    const std::optional<PlusBrush> b = at <= d.n ? ParseBrush(d, at) : std::nullopt;
    if (!b) return std::nullopt;
    o.pen = QPen(b->brush, 1, style, cap, join);
    if (dashes.size() >= 2 && dashes.size() % 2 == 0) o.pen.setDashPattern(dashes);
    return o;
}

// A path object: its points, then a kind for each (start, line or Bézier, and whether the
// figure closes there), the kinds possibly in runs.
std::optional<QPainterPath> ParsePath(const Rec& d, size_t at) {
    const uint64_t count = d.U32(at + 4);
    const uint32_t flags = d.U32(at + 8);
    if (!d.Has(at, 12)) return std::nullopt;
    size_t typesAt = 0;
    const std::vector<QPointF> pts = PlusPoints(d, at + 12, count, static_cast<uint16_t>(flags), &typesAt);
    if (pts.size() != count) return std::nullopt;
    std::vector<unsigned char> kinds;
    kinds.reserve(pts.size());
    if (flags & 0x1000) {  // runs: a count, then the kind repeated
        size_t o = typesAt;
        while (kinds.size() < count) {
            if (!d.Has(o, 2)) return std::nullopt;
            const size_t run = d.p[o] & 0x3F;
            for (size_t i = 0; i < run && kinds.size() < count; ++i) kinds.push_back(d.p[o + 1]);
            o += 2;
        }
    } else {
        if (!d.Has(typesAt, count)) return std::nullopt;
        kinds.assign(d.p + typesAt, d.p + typesAt + count);
    }
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (size_t i = 0; i < pts.size(); ++i) {
        const int kind = kinds[i] & 0x07;
        if (kind == 0 || path.elementCount() == 0) {
            path.moveTo(pts[i]);
        } else if (kind == 3 && i + 2 < pts.size()) {
            path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            i += 2;
        } else {
            path.lineTo(pts[i]);
        }
        if (kinds[i] & 0x80) path.closeSubpath();
    }
    return path;
}

// A region: a tree of rectangles and paths joined by set operations, read depth first.
std::optional<QPainterPath> RegionNode(const Rec& d, size_t& at, const QRectF& everything, uint64_t& budget, int depth = 0) {
    if (budget == 0 || depth > kMaxRegionDepth || !d.Has(at, 4)) return std::nullopt;
    --budget;
    const uint32_t kind = d.U32(at);
    at += 4;
    QPainterPath p;
    p.setFillRule(Qt::WindingFill);
    switch (kind) {
    case 0x10000000:  // rectangle
        if (!d.Has(at, 16)) return std::nullopt;
        p.addRect(RectF(d, at).normalized());
        at += 16;
        return p;
    case 0x10000001: {  // path, with its length first
        const uint32_t length = d.U32(at);
        if (!d.Has(at + 4, length)) return std::nullopt;
        const Rec inner{d.p + at + 4, length, d.offset, 0};
        auto path = ParsePath(inner, 0);
        at += 4 + length;
        return path;
    }
    case 0x10000002: return p;  // empty
    case 0x10000003: p.addRect(everything); return p;
    case 1: case 2: case 3: case 4: case 5: {
        const auto left = RegionNode(d, at, everything, budget, depth + 1);
        if (!left) return std::nullopt;
        const auto right = RegionNode(d, at, everything, budget, depth + 1);
        if (!right) return std::nullopt;
        switch (kind) {
        case 1: return left->intersected(*right);
        case 2: return left->united(*right);
        case 3: return left->subtracted(*right).united(right->subtracted(*left));
        case 4: return left->subtracted(*right);
        default: return right->subtracted(*left);
        }
    }
    default: return std::nullopt;
    }
}

// A bitmap image: pixels in one of the common formats, or a whole PNG, JPEG, GIF or BMP file.
std::optional<Metafile::Bitmap> DecodeImage(const Rec& d, qint64& left, std::string& why) {
    if (d.U32(4) != 1) {
        why = "EMF+ の中のメタファイル画像は再生できません";
        return std::nullopt;
    }
    const int64_t width = d.I32(8), height = d.I32(12), stride = d.I32(16);
    const uint32_t format = d.U32(20), kind = d.U32(24);
    why = "EMF+ の中の画像が読めません";
    if (kind == 1) {
        QByteArray data(reinterpret_cast<const char*>(d.p + std::min<size_t>(28, d.n)), static_cast<qsizetype>(d.n - std::min<size_t>(28, d.n)));
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        const QSize claimed = reader.size();
        if (!claimed.isValid()) return std::nullopt;
        if (static_cast<double>(claimed.width()) * claimed.height() * 4 > static_cast<double>(left))
            Refuse(MetafileKind::Emf, "画像が大きすぎます");
        reader.setAllocationLimit(static_cast<int>(std::min<qint64>(left >> 20, 1 << 20)) + 1);
        QImage image = reader.read();
        if (image.isNull()) return std::nullopt;
        left -= std::max<qint64>(image.sizeInBytes(), 1);
        return Metafile::Bitmap{std::move(image), false};
    }
    if (width <= 0 || height <= 0 || stride <= 0) return std::nullopt;
    if (static_cast<double>(width) * static_cast<double>(height) * 4 > static_cast<double>(left))
        Refuse(MetafileKind::Emf, "画像が大きすぎます");
    size_t at = 28;
    QList<QRgb> palette;
    if (format & 0x00010000) {  // indexed: the palette comes first
        const uint64_t count = d.U32(at + 4);
        if (count > 256 || !d.Has(at + 8, count * 4)) return std::nullopt;
        for (size_t i = 0; i < count; ++i) palette.push_back(d.U32(at + 8 + 4 * i));
        at += 8 + static_cast<size_t>(count) * 4;
    }
    QImage::Format f;
    int64_t bytesPerRow;
    switch (format) {
    case 0x00030101: f = QImage::Format_Mono; bytesPerRow = (width + 7) / 8; break;
    case 0x00030803: f = QImage::Format_Indexed8; bytesPerRow = width; break;
    case 0x00021005: f = QImage::Format_RGB555; bytesPerRow = width * 2; break;
    case 0x00021006: f = QImage::Format_RGB16; bytesPerRow = width * 2; break;
    case 0x00021808: f = QImage::Format_BGR888; bytesPerRow = width * 3; break;
    case 0x00022009: f = QImage::Format_RGB32; bytesPerRow = width * 4; break;
    case 0x0026200A: f = QImage::Format_ARGB32; bytesPerRow = width * 4; break;
    case 0x000E200B: f = QImage::Format_ARGB32_Premultiplied; bytesPerRow = width * 4; break;
    default: return std::nullopt;
    }
    if (stride < bytesPerRow || !d.Has(at, static_cast<uint64_t>(stride) * (static_cast<uint64_t>(height) - 1) + static_cast<uint64_t>(bytesPerRow)))
        return std::nullopt;
    QImage image(static_cast<int>(width), static_cast<int>(height), f);
    if (image.isNull()) return std::nullopt;
    for (int64_t y = 0; y < height; ++y)
        std::memcpy(image.scanLine(static_cast<int>(y)), d.p + at + static_cast<size_t>(y * stride), static_cast<size_t>(bytesPerRow));
    if (!palette.isEmpty()) {
        while (palette.size() < (f == QImage::Format_Mono ? 2 : 256)) palette.push_back(0xFF000000u);
        image.setColorTable(palette);
    }
    if (f == QImage::Format_ARGB32_Premultiplied) {  // colours above their alpha would overflow a blend
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int a = qAlpha(line[x]);
                line[x] = qRgba(std::min(qRed(line[x]), a), std::min(qGreen(line[x]), a), std::min(qBlue(line[x]), a), a);
            }
        }
    }
    left -= std::max<qint64>(image.sizeInBytes(), 1);
    return Metafile::Bitmap{std::move(image), false};
}

}  // namespace

std::optional<QByteArray> PlusPieces::Add(const PlusRec& r) {
    const int id = r.flags & 0xFF;
    const Rec& d = r.data;
    if (!(r.flags & 0x8000)) {
        if (id_ != id) return QByteArray(reinterpret_cast<const char*>(d.p), static_cast<qsizetype>(d.n));
        const uint64_t room = total_ - std::min<uint64_t>(total_, static_cast<uint64_t>(data_.size()));
        data_.append(reinterpret_cast<const char*>(d.p), static_cast<qsizetype>(std::min<uint64_t>(room, d.n)));
        QByteArray whole = std::move(data_);
        id_ = -1;
        data_.clear();
        return whole;
    }
    // A piece: the whole size first. A piece of another object drops what came before.
    if (d.n < 4) return std::nullopt;
    if (id_ != id || total_ != d.U32(0)) {
        id_ = id;
        total_ = d.U32(0);
        data_.clear();
    }
    const uint64_t room = total_ - std::min<uint64_t>(total_, static_cast<uint64_t>(data_.size()));
    data_.append(reinterpret_cast<const char*>(d.p + 4), static_cast<qsizetype>(std::min<uint64_t>(room, d.n - 4)));
    return std::nullopt;
}

void ScanPlus(const Rec& r, PlusScan& scan, qint64& left, std::map<size_t, Metafile::Bitmap>& images) {
    if (r.type != 70 || r.U32(12) != kPlusComment) return;
    const auto note = [&scan](const std::string& why) {
        if (scan.unplayable.empty()) scan.unplayable = why;
    };
    const bool whole = ForEachPlusRecord(r, [&](const PlusRec& p) {
        if (p.type == kHeader) {
            scan.seen = true;
            scan.dual = p.flags & 1;
            if (p.data.U32(8) >= 10 && p.data.U32(8) <= 10000) scan.dpiX = p.data.U32(8);
            if (p.data.U32(12) >= 10 && p.data.U32(12) <= 10000) scan.dpiY = p.data.U32(12);
            return;
        }
        if (!IsKnown(p.type)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%04X", p.type);
            note(std::string("EMF+ の記録 ") + hex + " は再生できません");
            return;
        }
        const int id = p.flags & 0xFF;
        if (p.type == kObject) {
            const std::optional<QByteArray> object = scan.pieces.Add(p);
            if (!object || id >= static_cast<int>(kPlusObjects)) return;
            const int type = (p.flags >> 8) & 0x7F;
            scan.kinds[static_cast<size_t>(id)] = type;
            if (type == kImageObject) {
                std::string why;
                const Rec d{reinterpret_cast<const unsigned char*>(object->constData()), static_cast<size_t>(object->size()), 0, 0};
                if (auto bmp = DecodeImage(d, left, why)) {
                    images.emplace(p.data.offset, std::move(*bmp));
                } else {
                    scan.kinds[static_cast<size_t>(id)] = -1;
                    note(why);
                }
            }
            return;
        }
        if (!IsDrawing(p.type)) return;
        if (p.type == kDrawDriverString && !(p.data.U32(4) & 1)) {
            note("EMF+ の文字がフォントのグリフ番号で書かれています");
            return;
        }
        if ((p.type == kDrawImage || p.type == kDrawImagePoints) &&
            (id >= static_cast<int>(kPlusObjects) || scan.kinds[static_cast<size_t>(id)] == -1))
            return;
        ++scan.drawn;
    });
    if (!whole) note("EMF+ の記録が途中で切れています");
}

// ---- playing ----

QTransform Player::PlusToPainter() const { return PlusToDevice() * frameToPainter_; }

QTransform Player::PlusToDevice() const {
    const double kx = UnitPixels(plus_.pageUnit, head_.plusDpiX) * plus_.pageScale;
    const double ky = UnitPixels(plus_.pageUnit, head_.plusDpiY) * plus_.pageScale;
    return plus_.world * QTransform::fromScale(kx, ky);
}

bool Player::PlusFont(const PlusObject& font, QFont& f, double& k) const {
    // The size in world units: a font of world units is as given, others are device pixels first.
    const double toDevice = std::sqrt(std::abs(PlusToDevice().determinant()));
    if (!(toDevice > 1e-9)) return false;
    const double em = font.unit == 0 ? font.emSize : font.emSize * UnitPixels(font.unit, head_.plusDpiY) / toDevice;
    const double seen = em * std::sqrt(std::abs(PlusToPainter().determinant()));
    if (!(seen >= 0.2) || seen > 1e6) return false;  // too small to see, or absurd
    f.setFamilies({font.family});
    f.setBold(font.style & 1);
    f.setItalic(font.style & 2);
    f.setUnderline(font.style & 4);
    f.setStrikeOut(font.style & 8);
    f.setHintingPreference(QFont::PreferNoHinting);
    const int base = std::clamp(static_cast<int>(std::lround(seen)), 8, 512);
    f.setPixelSize(base);
    k = em / base;
    return true;
}

const PlusObject* Player::PlusObjectAt(uint32_t id, PlusObject::Type type) const {
    if (id >= kPlusObjects || plusObjects_[id].type != type) return nullptr;
    return &plusObjects_[id];
}

void Player::PlusFill(const QPainterPath& path, uint16_t flags, uint32_t brush) {
    PlusBrush b;
    if (flags & kColourGiven) {
        b.brush = QBrush(Argb(brush));
    } else if (const PlusObject* o = PlusObjectAt(brush, PlusObject::Brush)) {
        b = o->brush;
    } else {
        return;
    }
    painter_.setWorldTransform(PlusToPainter());
    if (b.back) painter_.fillPath(path, *b.back);
    painter_.fillPath(path, b.brush);
}

void Player::PlusStroke(const QPainterPath& path, uint32_t penId) {
    const PlusObject* o = PlusObjectAt(penId, PlusObject::Pen);
    if (!o) return;
    const QTransform t = PlusToPainter();
    painter_.setWorldTransform(t);
    QPen pen = o->pen;
    const double scale = std::sqrt(std::abs(t.determinant()));
    if (o->penWidth * scale < 1.0) {  // never thinner than a pixel
        pen.setWidthF(1.0);
        pen.setCosmetic(true);
    } else {
        pen.setWidthF(o->penWidth);
    }
    painter_.strokePath(path, pen);
}

void Player::PlusClip(const QPainterPath& world, int mode) {
    const QPainterPath area = PlusToDevice().map(world);
    switch (mode) {
    case 0: CombineClip(area, 5); break;
    case 1: CombineClip(area, 1); break;
    case 2: CombineClip(area, 2); break;
    case 3: CombineClip(area, 3); break;
    case 4: CombineClip(area, 4); break;
    case 5: CombineClip(area.subtracted(dc_.clip ? *dc_.clip : Everything()), 5); break;
    default: break;
    }
}

void Player::PlusObjectRecord(const PlusRec& r) {
    const std::optional<QByteArray> bytes = plusPieces_.Add(r);
    const uint32_t id = r.flags & 0xFF;
    if (!bytes || id >= kPlusObjects) return;
    const Rec d{reinterpret_cast<const unsigned char*>(bytes->constData()), static_cast<size_t>(bytes->size()), 0, 0};
    PlusObject o;
    switch ((r.flags >> 8) & 0x7F) {
    case kBrushObject:
        if (auto b = ParseBrush(d, 0)) {
            o.type = PlusObject::Brush;
            o.brush = *b;
        }
        break;
    case kPenObject:
        if (auto pen = ParsePen(d, head_.plusDpiX)) o = std::move(*pen);
        break;
    case kPathObject:
        if (auto path = ParsePath(d, 0)) {
            o.type = PlusObject::Path;
            o.path = std::move(*path);
        }
        break;
    case kRegionObject: {
        size_t at = 8;
        uint64_t budget = kMaxRegionNodes;
        // The infinite region is the whole picture, in world units.
        const QRectF everything = PlusToDevice().inverted().mapRect(head_.frame.adjusted(-1, -1, 1, 1));
        if (auto region = RegionNode(d, at, everything, budget)) {
            o.type = PlusObject::Region;
            o.path = std::move(*region);
        }
        break;
    }
    case kImageObject:
        if (const Metafile::Bitmap* bmp = mf_.BitmapOf(r.data.offset)) {
            o.type = PlusObject::Image;
            o.image = &bmp->image;
        }
        break;
    case kFontObject: {
        const uint64_t length = d.U32(20);
        if (!d.Has(24, length * 2)) break;
        o.type = PlusObject::Font;
        o.emSize = d.F32(4);
        o.unit = static_cast<int>(d.U32(8));
        o.style = d.I32(12);
        for (size_t i = 0; i < length; ++i) o.family.append(QChar(static_cast<char16_t>(d.U16(24 + 2 * i))));
        break;
    }
    case kFormatObject:
        o.type = PlusObject::Format;
        o.noWrap = d.U32(4) & 0x1000;
        o.align = static_cast<int>(d.U32(12));
        o.lineAlign = static_cast<int>(d.U32(16));
        break;
    default: break;
    }
    plusObjects_[id] = std::move(o);
}

std::optional<QPen> Player::PlusInk(uint16_t flags, uint32_t brush) const {
    if (flags & kColourGiven) return QPen(Argb(brush));
    if (const PlusObject* b = PlusObjectAt(brush, PlusObject::Brush)) return QPen(b->brush.brush, 1);
    return std::nullopt;
}

void Player::PlusString(const PlusRec& r) {
    const Rec& d = r.data;
    const PlusObject* font = PlusObjectAt(r.flags & 0xFF, PlusObject::Font);
    const uint64_t length = d.U32(8);
    if (!font || length > kMaxTextChars || !d.Has(28, length * 2)) return;
    QString text;
    for (size_t i = 0; i < length; ++i) text.append(QChar(static_cast<char16_t>(d.U16(28 + 2 * i))));
    const PlusObject* format = PlusObjectAt(d.U32(4), PlusObject::Format);
    const QRectF layout = RectF(d, 12);
    const std::optional<QPen> ink = PlusInk(r.flags, d.U32(0));
    if (!ink) return;
    const QTransform t = PlusToPainter();
    QFont f;
    double k = 1;  // world units a font pixel
    if (!PlusFont(*font, f, k)) return;
    int align = Qt::AlignLeft | Qt::AlignTop;
    if (format) {
        align = (format->align == 1 ? Qt::AlignHCenter : format->align == 2 ? Qt::AlignRight : Qt::AlignLeft) |
                (format->lineAlign == 1 ? Qt::AlignVCenter : format->lineAlign == 2 ? Qt::AlignBottom : Qt::AlignTop);
    }
    QRectF box(layout.topLeft() / k, layout.size() / k);
    if (box.width() > 0 && box.height() > 0 && !(format && format->noWrap)) {
        align |= Qt::TextWordWrap;
    } else {
        // No box: the text hangs from the point, placed by the alignment around it.
        const QRectF need = QFontMetricsF(f).boundingRect(QRectF(), align & ~Qt::TextWordWrap, text);
        const double w = need.width(), h = need.height();
        const double x = (align & Qt::AlignHCenter) ? box.left() - w / 2 : (align & Qt::AlignRight) ? box.left() - w : box.left();
        const double y = (align & Qt::AlignVCenter) ? box.top() - h / 2 : (align & Qt::AlignBottom) ? box.top() - h : box.top();
        box = QRectF(x, y, w + 1, h + 1);
    }
    if (!GlyphsFit(QTransform::fromScale(k, k) * t, f.pixelSize())) return;
    painter_.save();
    painter_.setWorldTransform(QTransform::fromScale(k, k) * t);
    painter_.setFont(f);
    painter_.setPen(*ink);
    painter_.drawText(box, align, text);
    painter_.restore();
}

void Player::PlusDriverString(const PlusRec& r) {
    const Rec& d = r.data;
    const PlusObject* font = PlusObjectAt(r.flags & 0xFF, PlusObject::Font);
    const uint32_t options = d.U32(4);
    const uint64_t count = d.U32(12);
    // Glyph numbers of a font that is not here would draw as wrong letters.
    if (!font || !(options & 1) || count > kMaxTextChars || !d.Has(16, count * 10)) return;
    const std::optional<QPen> ink = PlusInk(r.flags, d.U32(0));
    if (!ink) return;
    QTransform glyphs;
    if (d.U32(8) && d.Has(16 + count * 10, 24)) {
        const QTransform m = Matrix(d, 16 + count * 10);
        glyphs = QTransform(m.m11(), m.m12(), m.m21(), m.m22(), 0, 0);
    }
    const QTransform t = PlusToPainter();
    QFont f;
    double k = 1;
    if (!PlusFont(*font, f, k)) return;
    if (!GlyphsFit(QTransform::fromScale(k, k) * glyphs * t, f.pixelSize())) return;
    painter_.save();
    painter_.setFont(f);
    painter_.setPen(*ink);
    const size_t positions = 16 + count * 2;
    const bool advanceItself = options & 4;  // only the first position is given
    for (size_t i = 0; i < count; ++i) {
        const QPointF at(d.F32(positions + (advanceItself ? 0 : 8 * i)), d.F32(positions + (advanceItself ? 4 : 8 * i + 4)));
        painter_.setWorldTransform(QTransform::fromScale(k, k) * glyphs * QTransform::fromTranslate(at.x(), at.y()) * t);
        QString s;
        for (size_t j = advanceItself ? 0 : i; j < (advanceItself ? count : i + 1); ++j)
            s.append(QChar(static_cast<char16_t>(d.U16(16 + 2 * j))));
        painter_.drawText(QPointF(0, 0), s);
        if (advanceItself) break;
    }
    painter_.restore();
}

void Player::PlusPicture(const PlusRec& r) {
    const Rec& d = r.data;
    const PlusObject* o = PlusObjectAt(r.flags & 0xFF, PlusObject::Image);
    if (!o || !o->image) return;
    QRectF src = RectF(d, 8);
    if (d.I32(4) != 2) {  // a source in other units than pixels: the whole image
        src = QRectF(QPointF(0, 0), o->image->size());
    }
    if (!(src.width() > 0 && src.height() > 0)) return;
    QTransform place;
    if (r.type == kDrawImage) {
        const QRectF dest = (r.flags & kShort) ? QRectF(d.I16(24), d.I16(26), d.I16(28), d.I16(30)) : RectF(d, 24);
        place = QTransform(dest.width() / src.width(), 0, 0, dest.height() / src.height(),
                           dest.left() - src.left() * dest.width() / src.width(), dest.top() - src.top() * dest.height() / src.height());
    } else {
        // Three points: where the source's top-left, top-right and bottom-left corners go.
        const std::vector<QPointF> p = PlusPoints(d, 28, 3, r.flags);
        if (d.U32(24) != 3 || p.size() != 3) return;
        const QPointF across = (p[1] - p[0]) / src.width(), down = (p[2] - p[0]) / src.height();
        place = QTransform(across.x(), across.y(), down.x(), down.y(), p[0].x() - src.left() * across.x() - src.top() * down.x(),
                           p[0].y() - src.left() * across.y() - src.top() * down.y());
    }
    painter_.save();
    painter_.setWorldTransform(place * PlusToPainter());
    painter_.drawImage(src, *o->image, src);
    painter_.restore();
}

void Player::PlayPlus(const Rec& comment) {
    ForEachPlusRecord(comment, [this](const PlusRec& r) { Plus(r); });
}

void Player::Plus(const PlusRec& r) {
    const Rec& d = r.data;
    const uint16_t f = r.flags;
    const uint32_t object = f & 0xFF;
    plusGdi_ = r.type == kGetDc;
    const auto pathOf = [](const std::vector<QPointF>& pts, bool closed) {
        QPainterPath p;
        if (pts.empty()) return p;
        p.moveTo(pts[0]);
        for (size_t i = 1; i < pts.size(); ++i) p.lineTo(pts[i]);
        if (closed) p.closeSubpath();
        return p;
    };
    const auto rectAt = [&](size_t at) {
        return (f & kShort) ? QRectF(d.I16(at), d.I16(at + 2), d.I16(at + 4), d.I16(at + 6)) : RectF(d, at);
    };
    const auto pie = [](const QRectF& box, double start, double sweep, int kind) {
        // Angles run clockwise on the device, from the x axis.
        QPainterPath p;
        sweep = std::clamp(sweep, -360.0, 360.0);
        start = std::fmod(start, 360.0);
        if (kind == 2) {
            p.moveTo(box.center());
            p.arcTo(box, -start, -sweep);
            p.closeSubpath();
        } else {
            p.arcMoveTo(box, -start);
            p.arcTo(box, -start, -sweep);
        }
        return p;
    };
    switch (r.type) {
    case kObject: PlusObjectRecord(r); break;
    case kClear: {
        painter_.save();
        painter_.setWorldTransform(frameToPainter_);
        painter_.setCompositionMode(QPainter::CompositionMode_Source);
        painter_.fillRect(head_.frame.adjusted(-1, -1, 1, 1), Argb(d.U32(0)));
        painter_.restore();
        break;
    }
    case kFillRects: {
        QPainterPath p;
        for (const QRectF& rect : PlusRects(d, 8, d.U32(4), f & kShort)) p.addRect(rect.normalized());
        PlusFill(p, f, d.U32(0));
        break;
    }
    case kDrawRects: {
        QPainterPath p;
        for (const QRectF& rect : PlusRects(d, 4, d.U32(0), f & kShort)) p.addRect(rect.normalized());
        PlusStroke(p, object);
        break;
    }
    case kFillPolygon: PlusFill(pathOf(PlusPoints(d, 8, d.U32(4), f), true), f, d.U32(0)); break;
    case kDrawLines: PlusStroke(pathOf(PlusPoints(d, 4, d.U32(0), f), f & 0x2000), object); break;
    case kFillEllipse: {
        QPainterPath p;
        p.addEllipse(rectAt(4).normalized());
        PlusFill(p, f, d.U32(0));
        break;
    }
    case kDrawEllipse: {
        QPainterPath p;
        p.addEllipse(rectAt(0).normalized());
        PlusStroke(p, object);
        break;
    }
    case kFillPie: PlusFill(pie(rectAt(12).normalized(), d.F32(4), d.F32(8), 2), f, d.U32(0)); break;
    case kDrawPie: case kDrawArc:
        PlusStroke(pie(rectAt(8).normalized(), d.F32(0), d.F32(4), r.type == kDrawPie ? 2 : 0), object);
        break;
    case kFillRegion:
        if (const PlusObject* o = PlusObjectAt(object, PlusObject::Region)) PlusFill(o->path, f, d.U32(0));
        break;
    case kFillPath:
        if (const PlusObject* o = PlusObjectAt(object, PlusObject::Path)) PlusFill(o->path, f, d.U32(0));
        break;
    case kDrawPath:
        if (const PlusObject* o = PlusObjectAt(object, PlusObject::Path)) PlusStroke(o->path, d.U32(0));
        break;
    case kFillClosedCurve: {
        QPainterPath p = Curve(PlusPoints(d, 12, d.U32(8), f), d.F32(4), true);
        p.setFillRule(f & 0x2000 ? Qt::WindingFill : Qt::OddEvenFill);
        PlusFill(p, f, d.U32(0));
        break;
    }
    case kDrawClosedCurve: PlusStroke(Curve(PlusPoints(d, 8, d.U32(4), f), d.F32(0), true), object); break;
    case kDrawCurve:
        PlusStroke(Curve(PlusPoints(d, 16, d.U32(12), f), d.F32(0), false, d.U32(4), d.U32(8)), object);
        break;
    case kDrawBeziers: {
        const std::vector<QPointF> pts = PlusPoints(d, 4, d.U32(0), f);
        if (pts.empty()) break;
        QPainterPath p(pts[0]);
        for (size_t i = 1; i + 3 <= pts.size(); i += 3) p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        PlusStroke(p, object);
        break;
    }
    case kDrawImage: case kDrawImagePoints: PlusPicture(r); break;
    case kDrawString: PlusString(r); break;
    case kDrawDriverString: PlusDriverString(r); break;
    case kSave: case kBeginContainerNoParams: case kBeginContainer: {
        if (plusSaved_.size() >= 4096) break;
        PlusState s = plus_;
        s.clip = dc_.clip;
        const uint32_t index = r.type == kBeginContainer ? d.U32(32) : d.U32(0);
        plusSaved_.emplace_back(index, s);
        if (r.type == kBeginContainer) {
            // The source rectangle's units are placed onto the destination rectangle.
            const QRectF dest = RectF(d, 0), src = RectF(d, 16);
            if (src.width() != 0 && src.height() != 0)
                plus_.world = QTransform(dest.width() / src.width(), 0, 0, dest.height() / src.height(),
                                         dest.left() - src.left() * dest.width() / src.width(),
                                         dest.top() - src.top() * dest.height() / src.height()) *
                              plus_.world;
        }
        break;
    }
    case kRestore: case kEndContainer: {
        const uint32_t index = d.U32(0);
        for (size_t i = plusSaved_.size(); i-- > 0;) {
            if (plusSaved_[i].first != index) continue;
            plus_ = plusSaved_[i].second;
            dc_.clip = plus_.clip;
            plusSaved_.resize(i);
            ApplyClip();
            break;
        }
        break;
    }
    case kSetWorldTransform: plus_.world = Matrix(d, 0); break;
    case kResetWorldTransform: plus_.world = QTransform(); break;
    case kMultiplyWorldTransform:
        plus_.world = (f & kAppend) ? plus_.world * Matrix(d, 0) : Matrix(d, 0) * plus_.world;
        break;
    case kTranslateWorldTransform: {
        const QTransform m = QTransform::fromTranslate(d.F32(0), d.F32(4));
        plus_.world = (f & kAppend) ? plus_.world * m : m * plus_.world;
        break;
    }
    case kScaleWorldTransform: {
        const QTransform m = QTransform::fromScale(d.F32(0), d.F32(4));
        plus_.world = (f & kAppend) ? plus_.world * m : m * plus_.world;
        break;
    }
    case kRotateWorldTransform: {
        const QTransform m = QTransform().rotate(d.F32(0));
        plus_.world = (f & kAppend) ? plus_.world * m : m * plus_.world;
        break;
    }
    case kSetPageTransform:
        plus_.pageUnit = f & 0xFF;
        plus_.pageScale = d.F32(0) > 0 && d.F32(0) < 1e6 ? d.F32(0) : 1;
        break;
    case kResetClip:
        dc_.clip.reset();
        ApplyClip();
        break;
    case kSetClipRect: {
        QPainterPath p;
        p.addRect(RectF(d, 0).normalized());
        PlusClip(p, (f >> 8) & 0x0F);
        break;
    }
    case kSetClipPath: case kSetClipRegion:
        if (const PlusObject* o = PlusObjectAt(object, r.type == kSetClipPath ? PlusObject::Path : PlusObject::Region))
            PlusClip(o->path, (f >> 8) & 0x0F);
        break;
    case kOffsetClip: {
        if (!dc_.clip) break;
        const QTransform t = PlusToDevice();
        dc_.clip = dc_.clip->translated(t.map(QPointF(d.F32(0), d.F32(4))) - t.map(QPointF(0, 0)));
        ApplyClip();
        break;
    }
    default: break;  // rendering hints, comments and records that change nothing drawn
    }
}

}  // namespace platform::metafile
