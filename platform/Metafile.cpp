#include "platform/Metafile.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QImageReader>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <optional>
#include <string>
#include <vector>

#include "platform/Pictures.h"

namespace platform {

struct Metafile::Header {
    size_t firstRecord = 0;  // offset of the first record after the headers
    QRectF frame;            // WMF: logical units of the picture; EMF: reference device pixels
    double dpmmX = 96 / 25.4, dpmmY = 96 / 25.4;  // EMF reference device pixels a millimetre
    int wmfObjects = 0;
};

namespace {

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

[[noreturn]] void Refuse(MetafileKind kind, const std::string& reason) {
    throw EInvalidGraphic((kind == MetafileKind::Emf ? "EMF: " : "WMF: ") + reason);
}

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

// ---- bitmaps ----

// A device-independent bitmap (header, colours, pixels) decoded by Qt's BMP reader, which
// checks its own reads. The pixels it would take are charged to `left` first.
std::optional<Metafile::Bitmap> DecodeDib(const unsigned char* info, size_t infoLength, const unsigned char* bits,
                                          size_t bitsLength, qint64& left, MetafileKind kind) {
    Rec h{info, infoLength, 0, 0};
    const uint32_t headerSize = h.U32(0);
    int64_t width, height;
    int bitCount;
    uint32_t compression = 0, colours = 0;
    size_t entry = 4;
    // The header lies within the record, and no version of it is longer than 124 bytes.
    if (headerSize > infoLength || headerSize > 124) return std::nullopt;
    if (headerSize == 12) {
        width = h.U16(4);
        height = h.U16(6);
        bitCount = h.U16(10);
        entry = 3;
        colours = bitCount <= 8 ? 1u << bitCount : 0;
    } else if (headerSize >= 40 && h.Has(0, 40)) {
        width = h.I32(4);
        height = h.I32(8);
        bitCount = h.U16(14);
        compression = h.U32(16);
        colours = h.U32(32);
        if (colours == 0 && bitCount <= 8) colours = 1u << bitCount;
    } else {
        return std::nullopt;
    }
    const bool bottomUp = height > 0;
    width = std::llabs(width);
    height = std::llabs(height);
    if (width == 0 || height == 0) return std::nullopt;
    if (static_cast<double>(width) * static_cast<double>(height) * 4 > static_cast<double>(left))
        Refuse(kind, "画像が大きすぎます");
    const qint64 cost = width * height * 4;

    QImage image;
    if (compression == 4 || compression == 5) {  // the pixels are a whole JPEG or PNG
        QByteArray data(reinterpret_cast<const char*>(bits), static_cast<qsizetype>(bitsLength));
        QBuffer buffer(&data);
        QImageReader reader(&buffer, compression == 4 ? "jpeg" : "png");
        const QSize claimed = reader.size();
        if (!claimed.isValid() || static_cast<qint64>(claimed.width()) * claimed.height() * 4 > left)
            return std::nullopt;
        reader.setAllocationLimit(static_cast<int>(std::min<qint64>(left >> 20, 1 << 20)) + 1);
        image = reader.read();
    } else {
        if (colours > 65536) return std::nullopt;
        const size_t masks = (compression == 3 && headerSize == 40) ? 12 : (compression == 6 && headerSize == 40) ? 16 : 0;
        const size_t infoUsed = std::min<size_t>(infoLength, headerSize + masks + colours * entry);
        QByteArray file("BM", 2);
        const auto put32 = [&file](uint32_t v) {
            for (int i = 0; i < 4; ++i) file.append(static_cast<char>((v >> (8 * i)) & 0xFF));
        };
        put32(static_cast<uint32_t>(14 + infoUsed + bitsLength));
        put32(0);
        put32(static_cast<uint32_t>(14 + headerSize + masks + colours * entry));
        file.append(reinterpret_cast<const char*>(info), static_cast<qsizetype>(infoUsed));
        // Colours the header counts but the record lacks would shift the pixels: pad them.
        file.append(QByteArray(static_cast<qsizetype>(headerSize + masks + colours * entry - infoUsed), '\0'));
        file.append(reinterpret_cast<const char*>(bits), static_cast<qsizetype>(bitsLength));
        QBuffer buffer(&file);
        QImageReader reader(&buffer, "bmp");
        reader.setAllocationLimit(static_cast<int>(std::min<qint64>(left >> 20, 1 << 20)) + 1);
        image = reader.read();
    }
    if (image.isNull()) return std::nullopt;
    left -= std::max<qint64>(cost, image.sizeInBytes());
    return Metafile::Bitmap{std::move(image), bottomUp};
}

// Where a record's bitmap lies: EMF records give offsets of the header and the pixels; a
// WMF record holds one packed bitmap from a fixed place to its end.
std::optional<Metafile::Bitmap> BitmapOfRecord(const Rec& r, MetafileKind kind, qint64& left) {
    if (kind == MetafileKind::Emf) {
        size_t at;
        switch (r.type) {
        case 76: case 77: at = 84; break;   // BitBlt, StretchBlt
        case 80: case 81: at = 48; break;   // SetDIBitsToDevice, StretchDIBits
        case 93: case 94: at = 16; break;   // mono and DIB pattern brushes
        default: return std::nullopt;
        }
        const uint32_t offInfo = r.U32(at), infoLength = r.U32(at + 4), offBits = r.U32(at + 8), bitsLength = r.U32(at + 12);
        if (infoLength == 0 || !r.Has(offInfo, infoLength) || !r.Has(offBits, bitsLength)) return std::nullopt;
        return DecodeDib(r.p + offInfo, infoLength, r.p + offBits, bitsLength, left, kind);
    }
    size_t at;
    switch (r.type) {
    case 0x0940: at = 22; break;  // DIBBitBlt
    case 0x0B41: at = 26; break;  // DIBStretchBlt
    case 0x0F43: at = 28; break;  // StretchDIB
    case 0x0D33: at = 24; break;  // SetDIBitsToDevice
    case 0x0142:                  // DIBCreatePatternBrush (style 3 holds a device bitmap)
        if (r.W(0) == 3) return std::nullopt;
        at = 10;
        break;
    default: return std::nullopt;
    }
    // Blits without a bitmap are pattern operations.
    if ((r.type == 0x0940 || r.type == 0x0B41) && r.n / 2 == (r.type >> 8) + 3u) return std::nullopt;
    if (!r.Has(at, 12)) return std::nullopt;
    Rec h{r.p + at, r.n - at, 0, 0};
    const uint32_t headerSize = h.U32(0);
    size_t infoLength = headerSize;
    if (headerSize == 12) {
        const int bitCount = h.U16(10);
        infoLength += bitCount <= 8 ? 3u << bitCount : 0;
    } else if (headerSize >= 40) {
        const int bitCount = h.U16(14);
        const uint32_t compression = h.U32(16);
        uint64_t colours = h.U32(32);
        if (colours == 0 && bitCount <= 8) colours = 1u << bitCount;
        infoLength += (compression == 3 && headerSize == 40 ? 12 : 0) + std::min<uint64_t>(colours, 65536) * 4;
    } else {
        return std::nullopt;
    }
    if (infoLength > h.n) return std::nullopt;
    return DecodeDib(h.p, infoLength, h.p + infoLength, h.n - infoLength, left, kind);
}

// ---- text ----

// The code page of a font's character set. Text of the default set is the system's, which
// for this program's users is Japanese.
const char* CodePageOf(int charset) {
    switch (charset) {
    case 0: return "CP1252";
    case 1: case 128: return "CP932";
    case 77: return "MACINTOSH";
    case 129: return "CP949";
    case 130: return "JOHAB";
    case 134: return "CP936";
    case 136: return "CP950";
    case 161: return "CP1253";
    case 162: return "CP1254";
    case 163: return "CP1258";
    case 177: return "CP1255";
    case 178: return "CP1256";
    case 186: return "CP1257";
    case 204: return "CP1251";
    case 222: return "CP874";
    case 238: return "CP1250";
    case 255: return "CP437";
    default: return "CP1252";
    }
}

bool IsDoubleByteLead(int charset, unsigned char c) {
    switch (charset) {
    case 1: case 128: return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    case 129: case 134: case 136: return c >= 0x81 && c <= 0xFE;
    default: return false;
    }
}

// The Symbol font's letters and signs at their Unicode places.
char16_t SymbolToUnicode(unsigned char c) {
    static const char16_t upper[] = u"ΑΒΧΔΕΦΓΗΙϑΚΛΜΝΟΠΘΡΣΤΥςΩΞΨΖ";
    static const char16_t lower[] = u"αβχδεφγηιϕκλμνοπθρστυϖωξψζ";
    if (c >= 0x41 && c <= 0x5A) return upper[c - 0x41];
    if (c >= 0x61 && c <= 0x7A) return lower[c - 0x61];
    switch (c) {
    case 0x22: return u'∀';
    case 0x24: return u'∃';
    case 0x27: return u'∋';
    case 0x2A: return u'∗';
    case 0x2D: return u'−';
    case 0x40: return u'≅';
    case 0x5C: return u'∴';
    case 0x5E: return u'⊥';
    case 0x7E: return u'∼';
    case 0xA2: return u'′';
    case 0xA3: return u'≤';
    case 0xA5: return u'∞';
    case 0xAC: return u'←';
    case 0xAD: return u'↑';
    case 0xAE: return u'→';
    case 0xAF: return u'↓';
    case 0xB0: return u'°';
    case 0xB1: return u'±';
    case 0xB2: return u'″';
    case 0xB3: return u'≥';
    case 0xB4: return u'×';
    case 0xB6: return u'∂';
    case 0xB7: return u'•';
    case 0xB8: return u'÷';
    case 0xB9: return u'≠';
    case 0xBA: return u'≡';
    case 0xBB: return u'≈';
    case 0xBC: return u'…';
    case 0xC5: return u'⊕';
    case 0xC6: return u'∅';
    case 0xC7: return u'∩';
    case 0xC8: return u'∪';
    case 0xCE: return u'∈';
    case 0xCF: return u'∉';
    case 0xD1: return u'∇';
    case 0xD6: return u'√';
    case 0xD7: return u'⋅';
    case 0xD8: return u'¬';
    case 0xD9: return u'∧';
    case 0xDA: return u'∨';
    case 0xE5: return u'∑';
    case 0xF2: return u'∫';
    default: return c < 0x80 ? c : static_cast<char16_t>(0xF000 + c);  // private use, as Windows does
    }
}

struct FontSpec {
    int height = 0, width = 0, escapement = 0, weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 1;
    QString face;
    bool IsSymbol() const { return charset == 2; }
    // The Symbol font itself, whose letters have Unicode places; other symbol fonts
    // (Wingdings and the like) keep their codes in the private use area.
    bool IsSymbolFace() const { return IsSymbol() && (face.isEmpty() || face.contains(QLatin1String("symbol"), Qt::CaseInsensitive)); }
};

struct Object {
    enum Type { None, Pen, Brush, Font, Region, Other } type = None;
    QPen pen;
    double penWidth = 0;  // logical units; 0 draws one pixel
    QBrush brush;
    FontSpec font;
    QPainterPath region;
};

struct DeviceContext {
    QPen pen{Qt::black};
    double penWidth = 0;
    QBrush brush{Qt::white};
    FontSpec font;
    QColor textColor{Qt::black}, bkColor{Qt::white};
    int bkMode = 2;  // opaque
    uint32_t textAlign = 0;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    int mapMode = 1;
    QPointF winOrg, vpOrg;
    QSizeF winExt{1, 1}, vpExt{1, 1};
    bool windowSet = false;
    QTransform world;
    QPointF cur;
    std::optional<QPainterPath> clip;  // device space
    bool clockwise = false;
};

QColor ColorRef(uint32_t v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

QBrush HatchBrush(int hatch, const QColor& colour) {
    static const Qt::BrushStyle styles[] = {Qt::HorPattern, Qt::VerPattern, Qt::BDiagPattern,
                                            Qt::FDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    return QBrush(colour, hatch >= 0 && hatch < 6 ? styles[hatch] : Qt::SolidPattern);
}

class Player {
public:
    Player(const Metafile& mf, QPainter& painter, const QRectF& target)
        : mf_(mf), head_(mf.Head()), emf_(mf.Kind() == MetafileKind::Emf), painter_(painter), target_(target) {
        const QRectF& f = head_.frame;
        frameToPainter_ = QTransform(target.width() / f.width(), 0, 0, target.height() / f.height(),
                                     target.left() - f.left() * target.width() / f.width(),
                                     target.top() - f.top() * target.height() / f.height()) *
                          painter.worldTransform();
        if (!emf_) objects_.resize(static_cast<size_t>(head_.wmfObjects));
    }
    ~Player() {
        for (auto& [name, cd] : converters_)
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }

    void Play() {
        painter_.save();
        painter_.setRenderHint(QPainter::Antialiasing, true);
        painter_.setRenderHint(QPainter::TextAntialiasing, true);
        painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter_.save();
        ApplyClip();
        ForEachRecord(mf_.Bytes(), mf_.Kind(), head_.firstRecord, [this](const Rec& r) {
            if (emf_)
                Emf(r);
            else
                Wmf(r);
        });
        painter_.restore();
        painter_.restore();
    }

private:
    // ---- coordinate spaces: logical, device (the frame's space), painter ----

    QTransform LogicalToDevice() const {
        if (!emf_) {
            if (!dc_.windowSet || dc_.winExt.width() == 0 || dc_.winExt.height() == 0) return QTransform();
            const QRectF& f = head_.frame;
            const double sx = f.width() / dc_.winExt.width(), sy = f.height() / dc_.winExt.height();
            return QTransform(sx, 0, 0, sy, f.left() - dc_.winOrg.x() * sx, f.top() - dc_.winOrg.y() * sy);
        }
        double sx = 1, sy = 1;
        const double mm[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
        if (dc_.mapMode >= 2 && dc_.mapMode <= 6) {
            sx = mm[dc_.mapMode] * head_.dpmmX;
            sy = -mm[dc_.mapMode] * head_.dpmmY;
        } else if (dc_.mapMode == 7 || dc_.mapMode == 8) {
            if (dc_.winExt.width() != 0) sx = dc_.vpExt.width() / dc_.winExt.width();
            if (dc_.winExt.height() != 0) sy = dc_.vpExt.height() / dc_.winExt.height();
            if (dc_.mapMode == 7) {
                const double m = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(m, sx);
                sy = std::copysign(m, sy);
            }
        }
        const QTransform page(sx, 0, 0, sy, dc_.vpOrg.x() - dc_.winOrg.x() * sx, dc_.vpOrg.y() - dc_.winOrg.y() * sy);
        return dc_.world * page;
    }
    QTransform Full() const { return LogicalToDevice() * frameToPainter_; }

    // The frame stands for "everything" in clip arithmetic: nothing outside it is shown.
    QPainterPath Everything() const {
        QPainterPath p;
        p.addRect(head_.frame.adjusted(-1, -1, 1, 1));
        return p;
    }

    void ApplyClip() {
        painter_.restore();
        painter_.save();
        painter_.setClipRect(target_, Qt::IntersectClip);
        if (dc_.clip) {
            painter_.setWorldTransform(frameToPainter_);
            painter_.setClipPath(*dc_.clip, Qt::IntersectClip);
        }
    }

    // Combines a device-space area with the clip: 1 and, 2 or, 3 xor, 4 minus, 5 replace.
    void CombineClip(const QPainterPath& area, int mode) {
        const QPainterPath cur = dc_.clip ? *dc_.clip : Everything();
        switch (mode) {
        case 1: dc_.clip = cur.intersected(area); break;
        case 2: if (dc_.clip) dc_.clip = cur.united(area); break;
        case 3: dc_.clip = cur.subtracted(area).united(area.subtracted(cur)); break;
        case 4: dc_.clip = cur.subtracted(area); break;
        case 5: dc_.clip = area; break;
        default: return;
        }
        ApplyClip();
    }

    // ---- drawing ----

    void Prepare(bool stroke, bool fill) {
        const QTransform t = Full();
        painter_.setWorldTransform(t);
        if (stroke && dc_.pen.style() != Qt::NoPen) {
            QPen pen = dc_.pen;
            // Windows never draws a line thinner than a pixel.
            const double scale = std::sqrt(std::abs(t.determinant()));
            if (dc_.penWidth * scale < 1.0) {
                pen.setWidthF(1.0);
                pen.setCosmetic(true);
            } else {
                pen.setWidthF(dc_.penWidth);
            }
            painter_.setPen(pen);
        } else {
            painter_.setPen(Qt::NoPen);
        }
        painter_.setBrush(fill ? dc_.brush : QBrush(Qt::NoBrush));
    }

    void Shape(QPainterPath path, bool fill) {
        if (inPath_) {
            path_.addPath(path);
            return;
        }
        path.setFillRule(dc_.fillRule);
        Prepare(true, fill);
        painter_.drawPath(path);
    }

    void Polyline(const std::vector<QPointF>& pts, bool closed) {
        if (pts.empty()) return;
        QPainterPath p(pts[0]);
        for (size_t i = 1; i < pts.size(); ++i) p.lineTo(pts[i]);
        if (closed) p.closeSubpath();
        Shape(p, closed);
    }

    // Continues from the current position (LineTo, PolylineTo, PolyBezierTo).
    void From(const std::vector<QPointF>& pts, bool bezier) {
        if (pts.empty()) return;
        QPainterPath p(dc_.cur);
        if (bezier) {
            size_t i = 0;
            for (; i + 3 <= pts.size(); i += 3) p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            if (i) dc_.cur = pts[i - 1];
        } else {
            for (const QPointF& q : pts) p.lineTo(q);
            dc_.cur = pts.back();
        }
        if (inPath_) {
            if (path_.elementCount() == 0 || path_.currentPosition() != p.elementAt(0)) path_.moveTo(p.elementAt(0));
            path_.connectPath(p);
            return;
        }
        Prepare(true, false);
        painter_.drawPath(p);
    }

    void Bezier(const std::vector<QPointF>& pts) {
        if (pts.empty()) return;
        QPainterPath p(pts[0]);
        for (size_t i = 1; i + 3 <= pts.size(); i += 3) p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        Shape(p, false);
    }

    void PolyPoly(const std::vector<std::vector<QPointF>>& polys, bool closed) {
        QPainterPath p;
        for (const auto& poly : polys) {
            if (poly.empty()) continue;
            p.moveTo(poly[0]);
            for (size_t i = 1; i < poly.size(); ++i) p.lineTo(poly[i]);
            if (closed) p.closeSubpath();
        }
        Shape(p, closed);
    }

    // Arc, chord (kind 1) and pie (kind 2) between the radial lines through `start` and `end`.
    void ArcShape(QRectF box, QPointF start, QPointF end, int kind) {
        box = box.normalized();
        if (box.width() <= 0 || box.height() <= 0) return;
        const QPointF c = box.center();
        const auto angle = [&](QPointF q) {
            return std::atan2(-(q.y() - c.y()) / box.height(), (q.x() - c.x()) / box.width()) * 180 / M_PI;
        };
        const double a0 = angle(start), a1 = angle(end);
        // Arcs run counter-clockwise as seen on the device unless set otherwise; a logical
        // space with its y axis up reverses what "counter-clockwise" means in it.
        const bool flipped = LogicalToDevice().determinant() < 0;
        const bool clockwise = dc_.clockwise != flipped;
        double sweep = clockwise ? a0 - a1 : a1 - a0;
        while (sweep <= 0) sweep += 360;
        while (sweep > 360) sweep -= 360;
        if (clockwise) sweep = -sweep;
        QPainterPath p;
        if (kind == 2) {
            p.moveTo(c);
            p.arcTo(box, a0, sweep);
            p.closeSubpath();
        } else {
            p.arcMoveTo(box, a0);
            p.arcTo(box, a0, sweep);
            if (kind == 1) p.closeSubpath();
        }
        Shape(p, kind != 0);
    }

    void Rectangle(QRectF r, double rx = 0, double ry = 0) {
        QPainterPath p;
        if (rx > 0 && ry > 0)
            p.addRoundedRect(r.normalized(), rx / 2, ry / 2);
        else
            p.addRect(r.normalized());
        Shape(p, true);
    }

    void Ellipse(QRectF r) {
        QPainterPath p;
        p.addEllipse(r.normalized());
        Shape(p, true);
    }

    void FillArea(const QPainterPath& p, const QBrush& brush) {
        painter_.setWorldTransform(Full());
        painter_.fillPath(p, brush);
    }

    // Blits a record's bitmap into the logical rectangle `dest` from `src` in its pixels.
    void Blit(const Rec& r, QRectF dest, QRectF src, uint32_t rop, bool fromBottom) {
        const Metafile::Bitmap* bmp = mf_.BitmapOf(r.offset);
        if (!bmp) {
            // Pattern operations without a bitmap.
            QPainterPath p;
            p.addRect(dest.normalized());
            if (rop == 0x00F00021) FillArea(p, dc_.brush);
            else if (rop == 0x00000042) FillArea(p, Qt::black);
            else if (rop == 0x00FF0062) FillArea(p, Qt::white);
            return;
        }
        const QImage& img = bmp->image;
        if (src.width() <= 0 || src.height() <= 0) src = QRectF(QPointF(0, 0), img.size());
        if (fromBottom && bmp->bottomUp) src.moveTop(img.height() - src.top() - src.height());
        src = src.intersected(QRectF(QPointF(0, 0), img.size()));
        if (src.isEmpty()) return;
        painter_.save();
        painter_.setWorldTransform(Full());
        const bool rasterOps = painter_.paintEngine() && painter_.paintEngine()->hasFeature(QPaintEngine::RasterOpModes);
        QImage shown = img;
        switch (rop) {
        case 0x008800C6: if (rasterOps) painter_.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
        case 0x00EE0086: if (rasterOps) painter_.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
        case 0x00660046: if (rasterOps) painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
        case 0x00330008: shown.invertPixels(); break;
        default: break;
        }
        if (painter_.compositionMode() != QPainter::CompositionMode_SourceOver) painter_.setRenderHint(QPainter::Antialiasing, false);
        painter_.drawImage(dest.normalized(), shown, src);
        painter_.restore();
    }

    // ---- text ----

    QString Decode(const unsigned char* s, size_t n, int charset, bool symbolFace = true) {
        if (charset == 2) {
            QString out;
            for (size_t i = 0; i < n; ++i) out.append(QChar(symbolFace ? SymbolToUnicode(s[i]) : char16_t(0xF000 + s[i])));
            return out;
        }
        const char* page = CodePageOf(charset);
        auto it = converters_.find(page);
        if (it == converters_.end()) it = converters_.emplace(page, iconv_open("UTF-16LE", page)).first;
        iconv_t cd = it->second;
        if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(reinterpret_cast<const char*>(s), static_cast<qsizetype>(n));
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::string out(n * 4 + 8, '\0');
        char* in = const_cast<char*>(reinterpret_cast<const char*>(s));
        size_t inLeft = n;
        char* dst = out.data();
        size_t dstLeft = out.size();
        while (inLeft > 0) {
            if (iconv(cd, &in, &inLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
            if (errno == E2BIG || dstLeft < 2) break;
            // An invalid or cut-off sequence shows as one replacement character.
            dst[0] = static_cast<char>(0xFD);
            dst[1] = static_cast<char>(0xFF);
            dst += 2;
            dstLeft -= 2;
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        const size_t produced = out.size() - dstLeft;
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(out.data()), static_cast<qsizetype>(produced / 2));
    }

    QFont MakeFont(const FontSpec& f) const {
        QFont font;
        QStringList families;
        // Symbol text is in Unicode by now: any font with those letters shows it.
        if (!f.face.isEmpty() && !f.IsSymbolFace()) families << f.face;
        if (f.charset == 1 || f.charset == 128) families << QStringLiteral("IPAPGothic");
        if (!families.isEmpty()) font.setFamilies(families);
        font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight == 0 ? 400 : f.weight, 100, 900)));
        font.setItalic(f.italic);
        font.setUnderline(f.underline);
        font.setStrikeOut(f.strikeOut);
        font.setHintingPreference(QFont::PreferNoHinting);
        return font;
    }

    // Text at a logical reference point. `dx` holds the advance of each character in logical
    // units, or nothing. Glyphs stand upright on the device whatever the logical axes do.
    void Text(QPointF ref, const QString& text, std::vector<double> dx, uint32_t options, std::optional<QRectF> rect) {
        const QTransform full = Full();
        if (rect && (options & 2)) {  // opaque rectangle
            QPainterPath p;
            p.addRect(rect->normalized());
            FillArea(p, dc_.bkColor);
        }
        // Glyph numbers of a font that is not here would draw as wrong letters.
        if (text.isEmpty() || (options & 0x10)) return;
        if (dc_.textAlign & 1) ref = dc_.cur;
        const double sx = std::hypot(full.m11(), full.m12()), sy = std::hypot(full.m21(), full.m22());
        const double height = dc_.font.height ? std::abs(static_cast<double>(dc_.font.height)) : 12.0;
        const double pixels = height * sy;
        if (!(pixels >= 0.2) || pixels > 1e6 || !(sx > 0)) return;  // too small to see, or absurd
        QFont font = MakeFont(dc_.font);
        const int base = std::clamp(static_cast<int>(std::lround(pixels)), 8, 512);
        font.setPixelSize(base);
        QFontMetricsF fm(font);
        double em = pixels;
        if (dc_.font.height > 0 && fm.height() > 0) em = pixels * base / fm.height();  // cell height given
        const double scale = em / base;
        if (dx.size() != static_cast<size_t>(text.size())) dx.clear();
        double width = 0;
        if (!dx.empty()) {
            for (double& d : dx) {
                d = d * sx / scale;
                width += d;
            }
        } else {
            width = fm.horizontalAdvance(text);
        }
        double x = 0;
        if ((dc_.textAlign & 6) == 6) x = -width / 2;
        else if (dc_.textAlign & 2) x = -width;
        double y = fm.ascent();
        if ((dc_.textAlign & 24) == 24) y = 0;
        else if (dc_.textAlign & 8) y = -fm.descent();

        painter_.save();
        if (rect && (options & 4)) {  // clipped to the rectangle
            painter_.setWorldTransform(full);
            painter_.setClipRect(rect->normalized(), Qt::IntersectClip);
        }
        const QPointF at = full.map(ref);
        painter_.setWorldTransform(QTransform::fromScale(scale, scale) * QTransform().rotate(-dc_.font.escapement / 10.0) *
                                   QTransform::fromTranslate(at.x(), at.y()));
        if (dc_.bkMode == 2 && !(rect && (options & 2)))
            painter_.fillRect(QRectF(x, y - fm.ascent(), width, fm.ascent() + fm.descent()), dc_.bkColor);
        painter_.setFont(font);
        painter_.setPen(dc_.textColor);
        if (dx.empty()) {
            painter_.drawText(QPointF(x, y), text);
        } else {
            for (qsizetype i = 0; i < text.size(); ++i) {
                const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
                painter_.drawText(QPointF(x, y), text.mid(i, n));
                for (qsizetype k = 0; k < n; ++k) x += dx[static_cast<size_t>(i + k)];
                i += n - 1;
            }
        }
        painter_.restore();
        if (dc_.textAlign & 1) dc_.cur = ref + QPointF(width * scale / sx, 0);
    }

    // 8-bit text in the selected font's character set; advances given per byte are summed
    // for the characters that take two.
    void ByteText(QPointF ref, const unsigned char* s, size_t n, const std::vector<double>& byteDx, uint32_t options,
                  std::optional<QRectF> rect) {
        const int charset = dc_.font.charset;
        const QString text = Decode(s, n, charset, dc_.font.IsSymbolFace());
        std::vector<double> dx;
        if (byteDx.size() == n) {
            for (size_t i = 0; i < n; ++i) {
                double d = byteDx[i];
                if (IsDoubleByteLead(charset, s[i]) && i + 1 < n) d += byteDx[++i];
                dx.push_back(d);
            }
        }
        Text(ref, text, std::move(dx), options, rect);
    }

    // ---- objects ----

    Object* ObjectAt(uint32_t index) {
        if (emf_) {
            auto it = emfObjects_.find(index);
            return it == emfObjects_.end() ? nullptr : &it->second;
        }
        return index < objects_.size() && objects_[index].type != Object::None ? &objects_[index] : nullptr;
    }

    void Create(uint32_t emfIndex, Object obj) {
        if (emf_) {
            if (emfIndex != 0) emfObjects_[emfIndex] = std::move(obj);  // 0 is the file itself
            return;
        }
        // A WMF object takes the lowest free place in the table.
        while (freeHint_ < objects_.size() && objects_[freeHint_].type != Object::None) ++freeHint_;
        if (freeHint_ < objects_.size()) objects_[freeHint_] = std::move(obj);
    }

    void Delete(uint32_t index) {
        if (emf_) {
            emfObjects_.erase(index);
        } else if (index < objects_.size()) {
            objects_[index] = Object();
            freeHint_ = std::min<size_t>(freeHint_, index);
        }
    }

    void Select(uint32_t index) {
        if (emf_ && (index & 0x80000000u)) {  // stock objects
            switch (index & 0x7FFFFFFF) {
            case 0: dc_.brush = QBrush(Qt::white); break;
            case 1: dc_.brush = QBrush(QColor(192, 192, 192)); break;
            case 2: dc_.brush = QBrush(QColor(128, 128, 128)); break;
            case 3: dc_.brush = QBrush(QColor(64, 64, 64)); break;
            case 4: dc_.brush = QBrush(Qt::black); break;
            case 5: dc_.brush = QBrush(Qt::NoBrush); break;
            case 6: dc_.pen = QPen(Qt::white); dc_.penWidth = 0; break;
            case 7: dc_.pen = QPen(Qt::black); dc_.penWidth = 0; break;
            case 8: dc_.pen = QPen(Qt::NoPen); break;
            case 10: case 11: case 12: case 13: case 14: case 16: case 17: dc_.font = FontSpec(); break;
            default: break;
            }
            return;
        }
        const Object* o = ObjectAt(index);
        if (!o) return;
        switch (o->type) {
        case Object::Pen: dc_.pen = o->pen; dc_.penWidth = o->penWidth; break;
        case Object::Brush: dc_.brush = o->brush; break;
        case Object::Font: dc_.font = o->font; break;
        case Object::Region: dc_.clip = LogicalToDevice().map(o->region); ApplyClip(); break;
        default: break;
        }
    }

    Object MakePen(uint32_t style, double width, QColor colour) {
        Object o;
        o.type = Object::Pen;
        const uint32_t kind = style & 0x0F;
        if (kind == 5) {
            o.pen = QPen(Qt::NoPen);
            return o;
        }
        o.pen = QPen(colour);
        static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine, Qt::DashDotDotLine};
        o.pen.setStyle(kind < 5 ? styles[kind] : Qt::SolidLine);
        const uint32_t cap = style & 0x0F00, join = style & 0xF000;
        o.pen.setCapStyle(cap == 0x100 ? Qt::SquareCap : cap == 0x200 ? Qt::FlatCap : Qt::RoundCap);
        o.pen.setJoinStyle(join == 0x1000 ? Qt::BevelJoin : join == 0x2000 ? Qt::MiterJoin : Qt::RoundJoin);
        o.penWidth = std::abs(width);
        return o;
    }

    Object MakeBrush(uint32_t style, QColor colour, int hatch, size_t recordOffset) {
        Object o;
        o.type = Object::Brush;
        if (style == 1) {
            o.brush = QBrush(Qt::NoBrush);
        } else if (style == 2) {
            o.brush = HatchBrush(hatch, colour);
        } else if (style == 3 || style == 5 || style == 6) {
            const Metafile::Bitmap* bmp = mf_.BitmapOf(recordOffset);
            o.brush = bmp && !bmp->image.isNull() ? QBrush(bmp->image) : QBrush(QColor(128, 128, 128));
        } else {
            o.brush = QBrush(colour);
        }
        return o;
    }

    // ---- records ----

    static std::vector<QPointF> Points(const Rec& r, size_t off, uint64_t count, bool small) {
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

    static QRectF RectL(const Rec& r, size_t off) {
        return QRectF(QPointF(r.I32(off), r.I32(off + 4)), QPointF(r.I32(off + 8), r.I32(off + 12)));
    }

    // RGNDATA: a header of 32 bytes, then its rectangles.
    static QPainterPath RegionRects(const Rec& r, size_t off, uint32_t length) {
        QPainterPath p;
        p.setFillRule(Qt::WindingFill);
        if (!r.Has(off, length) || length < 32) return p;
        const uint64_t count = std::min<uint64_t>({r.U32(off + 8), (length - 32) / 16, kMaxRegionRects});
        for (uint64_t i = 0; i < count; ++i) p.addRect(RectL(r, off + 32 + static_cast<size_t>(i) * 16).normalized());
        return p;
    }

    void SaveDc() {
        if (saved_.size() < 4096) saved_.push_back(dc_);
    }
    void RestoreDc(int relative) {
        if (relative >= 0 || saved_.empty()) return;
        const size_t back = std::min<size_t>(static_cast<size_t>(-static_cast<int64_t>(relative)), saved_.size());
        dc_ = saved_[saved_.size() - back];
        saved_.resize(saved_.size() - back);
        ApplyClip();
    }

    void Emf(const Rec& r) {
        switch (r.type) {
        case 2: case 85: Bezier(Points(r, 28, r.U32(24), r.type == 85)); break;
        case 3: case 86: Polyline(Points(r, 28, r.U32(24), r.type == 86), true); break;
        case 4: case 87: Polyline(Points(r, 28, r.U32(24), r.type == 87), false); break;
        case 5: case 88: From(Points(r, 28, r.U32(24), r.type == 88), true); break;
        case 6: case 89: From(Points(r, 28, r.U32(24), r.type == 89), false); break;
        case 7: case 8: case 90: case 91: {  // poly-polylines and poly-polygons
            const bool small = r.type >= 90;
            const uint64_t polys = r.U32(24), total = r.U32(28);
            if (polys > r.n / 4 || !r.Has(32, polys * 4)) break;
            const std::vector<QPointF> all = Points(r, 32 + polys * 4, total, small);
            std::vector<std::vector<QPointF>> list;
            size_t at = 0;
            for (uint64_t i = 0; i < polys; ++i) {
                const uint64_t n = r.U32(32 + i * 4);
                if (n > all.size() - at) break;
                list.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at), all.begin() + static_cast<std::ptrdiff_t>(at + n));
                at += n;
            }
            PolyPoly(list, r.type == 8 || r.type == 91);
            break;
        }
        case 56: case 92: {  // PolyDraw: points with their kinds
            const bool small = r.type == 92;
            const uint64_t n = r.U32(24);
            const std::vector<QPointF> pts = Points(r, 28, n, small);
            const size_t kinds = 28 + pts.size() * (small ? 4 : 8);
            if (!r.Has(kinds, pts.size())) break;
            QPainterPath p(dc_.cur);
            for (size_t i = 0; i < pts.size(); ++i) {
                const unsigned char k = r.p[kinds + i];
                if ((k & 6) == 6) p.moveTo(pts[i]);
                else if ((k & 6) == 4 && i + 2 < pts.size()) { p.cubicTo(pts[i], pts[i + 1], pts[i + 2]); i += 2; }
                else p.lineTo(pts[i]);
                if (k & 1) p.closeSubpath();
            }
            if (!pts.empty()) dc_.cur = pts.back();
            Shape(p, false);
            break;
        }
        case 9: dc_.winExt = QSizeF(r.I32(8), r.I32(12)); break;
        case 10: dc_.winOrg = QPointF(r.I32(8), r.I32(12)); break;
        case 11: dc_.vpExt = QSizeF(r.I32(8), r.I32(12)); break;
        case 12: dc_.vpOrg = QPointF(r.I32(8), r.I32(12)); break;
        case 15: {  // SetPixelV
            QPainterPath p;
            p.addRect(QRectF(r.I32(8), r.I32(12), 1, 1));
            FillArea(p, ColorRef(r.U32(16)));
            break;
        }
        case 17: dc_.mapMode = static_cast<int>(r.U32(8)); break;
        case 18: dc_.bkMode = static_cast<int>(r.U32(8)); break;
        case 19: dc_.fillRule = r.U32(8) == 2 ? Qt::WindingFill : Qt::OddEvenFill; break;
        case 22: dc_.textAlign = r.U32(8); break;
        case 24: dc_.textColor = ColorRef(r.U32(8)); break;
        case 25: dc_.bkColor = ColorRef(r.U32(8)); break;
        case 26: OffsetClip(QPointF(r.I32(8), r.I32(12))); break;
        case 27: MoveTo(QPointF(r.I32(8), r.I32(12))); break;
        case 29: case 30: {  // exclude, intersect clip rectangle
            QPainterPath p;
            p.addRect(RectL(r, 8).normalized());
            CombineClip(LogicalToDevice().map(p), r.type == 30 ? 1 : 4);
            break;
        }
        case 31: case 32: {  // scale viewport, window extents
            const int xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
            if (xd == 0 || yd == 0) break;
            QSizeF& ext = r.type == 31 ? dc_.vpExt : dc_.winExt;
            ext = QSizeF(ext.width() * xn / xd, ext.height() * yn / yd);
            break;
        }
        case 33: SaveDc(); break;
        case 34: RestoreDc(r.I32(8)); break;
        case 35: dc_.world = Xform(r, 8); break;
        case 36: {
            const QTransform x = Xform(r, 8);
            switch (r.U32(32)) {
            case 1: dc_.world = QTransform(); break;
            case 2: dc_.world = x * dc_.world; break;
            case 3: dc_.world = dc_.world * x; break;
            case 4: dc_.world = x; break;
            default: break;
            }
            break;
        }
        case 37: Select(r.U32(8)); break;
        case 38: Create(r.U32(8), MakePen(r.U32(12), r.I32(16), ColorRef(r.U32(24)))); break;
        case 95: Create(r.U32(8), MakePen(r.U32(28), r.U32(32), ColorRef(r.U32(40)))); break;
        case 39: Create(r.U32(8), MakeBrush(r.U32(12), ColorRef(r.U32(16)), static_cast<int>(r.U32(20)), r.offset)); break;
        case 93: case 94: Create(r.U32(8), MakeBrush(5, Qt::black, 0, r.offset)); break;
        case 40: Delete(r.U32(8)); break;
        case 82: {  // ExtCreateFontIndirectW
            Object o;
            o.type = Object::Font;
            FontSpec& f = o.font;
            f.height = r.I32(12);
            f.width = r.I32(16);
            f.escapement = r.I32(20);
            f.weight = r.I32(28);
            f.italic = r.Has(32, 1) && r.p[32];
            f.underline = r.Has(33, 1) && r.p[33];
            f.strikeOut = r.Has(34, 1) && r.p[34];
            f.charset = r.Has(35, 1) ? r.p[35] : 1;
            for (size_t i = 0; i < 32 && r.Has(40 + 2 * i, 2); ++i) {
                const char16_t c = r.U16(40 + 2 * i);
                if (c == 0) break;
                f.face.append(QChar(c));
            }
            Create(r.U32(8), std::move(o));
            break;
        }
        case 41: {  // AngleArc
            const QPointF c(r.I32(8), r.I32(12));
            const double radius = r.U32(16), start = r.F32(20), sweep = std::clamp(r.F32(24), -360.0, 360.0);
            const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
            QPainterPath p(dc_.cur);
            p.arcTo(box, start, sweep);
            dc_.cur = p.currentPosition();
            Shape(p, false);
            break;
        }
        case 42: Ellipse(RectL(r, 8)); break;
        case 43: Rectangle(RectL(r, 8)); break;
        case 44: Rectangle(RectL(r, 8), r.I32(24), r.I32(28)); break;
        case 45: case 46: case 47:
            ArcShape(RectL(r, 8), QPointF(r.I32(24), r.I32(28)), QPointF(r.I32(32), r.I32(36)), r.type - 45);
            break;
        case 54: LineTo(QPointF(r.I32(8), r.I32(12))); break;
        case 57: dc_.clockwise = r.U32(8) == 2; break;
        case 59: inPath_ = true; path_ = QPainterPath(); break;
        case 60: inPath_ = false; break;
        case 61: if (inPath_ || path_.elementCount()) path_.closeSubpath(); break;
        case 62: case 63: case 64: {  // fill, stroke and fill, stroke the path
            inPath_ = false;
            QPainterPath p = path_;
            p.setFillRule(dc_.fillRule);
            Prepare(r.type != 62, r.type != 64);
            painter_.drawPath(p);
            path_ = QPainterPath();
            break;
        }
        case 67: CombineClip(LogicalToDevice().map(path_), static_cast<int>(r.U32(8))); path_ = QPainterPath(); break;
        case 68: inPath_ = false; path_ = QPainterPath(); break;
        case 71: case 74: {  // FillRgn, PaintRgn
            const uint32_t length = r.U32(24);
            const QPainterPath p = RegionRects(r, r.type == 71 ? 32 : 28, length);
            QBrush brush = dc_.brush;
            if (r.type == 71) {
                const uint32_t ih = r.U32(28);
                const Object* o = ObjectAt(ih);
                if (o && o->type == Object::Brush) brush = o->brush;
            }
            FillArea(p, brush);
            break;
        }
        case 75: {  // ExtSelectClipRgn: device rectangles; an empty copy removes the clip
            const uint32_t length = r.U32(8);
            const int mode = static_cast<int>(r.U32(12));
            if (mode == 5 && length < 32) {
                dc_.clip.reset();
                ApplyClip();
            } else {
                CombineClip(RegionRects(r, 16, length), mode);
            }
            break;
        }
        case 76: case 77: {
            const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
            const QRectF src(r.I32(44), r.I32(48), r.type == 77 ? r.I32(100) : r.I32(32), r.type == 77 ? r.I32(104) : r.I32(36));
            Blit(r, dest, src, r.U32(40), false);
            break;
        }
        case 80:
            Blit(r, QRectF(r.I32(24), r.I32(28), r.I32(40), r.I32(44)), QRectF(r.I32(32), r.I32(36), r.I32(40), r.I32(44)),
                 0x00CC0020, true);
            break;
        case 81:
            Blit(r, QRectF(r.I32(24), r.I32(28), r.I32(72), r.I32(76)), QRectF(r.I32(32), r.I32(36), r.I32(40), r.I32(44)),
                 r.U32(68), true);
            break;
        case 83: case 84: {  // ExtTextOutA, ExtTextOutW
            const QPointF ref(r.I32(36), r.I32(40));
            const uint32_t count = std::min(r.U32(44), kMaxTextChars), offString = r.U32(48), options = r.U32(52),
                           offDx = r.U32(72);
            const bool wide = r.type == 84;
            const size_t bytes = static_cast<size_t>(count) * (wide ? 2 : 1);
            if (!r.Has(offString, bytes)) break;
            const std::optional<QRectF> rect = (options & 6) ? std::optional<QRectF>(RectL(r, 56)) : std::nullopt;
            std::vector<double> dx;
            const size_t step = (options & 0x2000) ? 8 : 4;  // ETO_PDY: x and y advances
            if (offDx && count <= r.n / step && r.Has(offDx, count * step))
                for (size_t i = 0; i < count; ++i) dx.push_back(r.I32(offDx + i * step));
            if (wide) {
                QString text;
                for (size_t i = 0; i < count; ++i) {
                    char16_t c = r.U16(offString + 2 * i);
                    // A symbol font's codes come as they are or moved to the private use area.
                    if (dc_.font.IsSymbolFace() && (c < 0x100 || (c >= 0xF020 && c <= 0xF0FF)))
                        c = SymbolToUnicode(static_cast<unsigned char>(c & 0xFF));
                    text.append(QChar(c));
                }
                Text(ref, text, dx, options, rect);
            } else {
                ByteText(ref, r.p + offString, count, dx, options, rect);
            }
            break;
        }
        default: break;  // palettes, colour management, comments, and records this player leaves alone
        }
    }

    static QTransform Xform(const Rec& r, size_t off) {
        return QTransform(r.F32(off), r.F32(off + 4), r.F32(off + 8), r.F32(off + 12), r.F32(off + 16), r.F32(off + 20));
    }

    void MoveTo(QPointF p) {
        dc_.cur = p;
        if (inPath_) path_.moveTo(p);
    }
    void LineTo(QPointF p) { From({p}, false); }

    void OffsetClip(QPointF d) {
        if (!dc_.clip) return;
        const QTransform t = LogicalToDevice();
        const QPointF dd = t.map(d) - t.map(QPointF(0, 0));
        dc_.clip = dc_.clip->translated(dd);
        ApplyClip();
    }

    // A WMF region: scans of rectangles between a top and a bottom.
    Object WmfRegion(const Rec& r) {
        Object o;
        o.type = Object::Region;
        QPainterPath p;
        p.setFillRule(Qt::WindingFill);
        const int scans = r.W(5);
        size_t at = 6 + 22;
        for (int s = 0; s < scans && r.Has(at, 6); ++s) {
            const int count = r.U16(at), top = r.I16(at + 2), bottom = r.I16(at + 4);
            at += 6;
            for (int i = 0; i + 1 < count && r.Has(at, 4); i += 2, at += 4)
                p.addRect(QRectF(QPointF(r.I16(at), top), QPointF(r.I16(at + 2), bottom)).normalized());
            at += 2;
        }
        if (p.isEmpty()) p.addRect(QRectF(QPointF(r.W(7), r.W(8)), QPointF(r.W(9), r.W(10))).normalized());
        o.region = p;
        return o;
    }

    QRectF WmfBox(const Rec& r, size_t first) {  // bottom, right, top, left
        return QRectF(QPointF(r.W(first + 3), r.W(first + 2)), QPointF(r.W(first + 1), r.W(first)));
    }

    void Wmf(const Rec& r) {
        const size_t params = (r.n - 6) / 2;
        switch (r.type) {
        case 0x001E: SaveDc(); break;
        case 0x0127: RestoreDc(r.W(0)); break;
        case 0x0102: dc_.bkMode = r.W(0); break;
        case 0x0106: dc_.fillRule = r.W(0) == 2 ? Qt::WindingFill : Qt::OddEvenFill; break;
        case 0x012E: dc_.textAlign = r.U16(6); break;
        case 0x0201: dc_.bkColor = ColorRef(r.U32(6)); break;
        case 0x0209: dc_.textColor = ColorRef(r.U32(6)); break;
        case 0x020B: dc_.winOrg = QPointF(r.W(1), r.W(0)); break;
        case 0x020C: dc_.winExt = QSizeF(r.W(1), r.W(0)); dc_.windowSet = true; break;
        case 0x020F: dc_.winOrg += QPointF(r.W(1), r.W(0)); break;
        case 0x0410: {  // ScaleWindowExt: yDenom, yNum, xDenom, xNum
            if (r.W(0) == 0 || r.W(2) == 0) break;
            dc_.winExt = QSizeF(dc_.winExt.width() * r.W(3) / r.W(2), dc_.winExt.height() * r.W(1) / r.W(0));
            break;
        }
        case 0x0213: LineTo(QPointF(r.W(1), r.W(0))); break;
        case 0x0214: MoveTo(QPointF(r.W(1), r.W(0))); break;
        case 0x0415: case 0x0416: {
            QPainterPath p;
            p.addRect(WmfBox(r, 0).normalized());
            CombineClip(LogicalToDevice().map(p), r.type == 0x0416 ? 1 : 4);
            break;
        }
        case 0x0220: OffsetClip(QPointF(r.W(1), r.W(0))); break;
        case 0x012C: {  // SelectClipRegion
            const Object* o = ObjectAt(r.U16(6));
            if (o && o->type == Object::Region) {
                dc_.clip = LogicalToDevice().map(o->region);
            } else {
                dc_.clip.reset();
            }
            ApplyClip();
            break;
        }
        case 0x0418: Ellipse(WmfBox(r, 0)); break;
        case 0x041B: Rectangle(WmfBox(r, 0)); break;
        case 0x061C: Rectangle(WmfBox(r, 2), r.W(1), r.W(0)); break;
        case 0x0817: case 0x081A: case 0x0830:  // Arc, Pie, Chord: yEnd, xEnd, yStart, xStart, box
            ArcShape(WmfBox(r, 4), QPointF(r.W(3), r.W(2)), QPointF(r.W(1), r.W(0)),
                     r.type == 0x0817 ? 0 : r.type == 0x0830 ? 1 : 2);
            break;
        case 0x0324: case 0x0325: {
            const int n = std::max(0, r.W(0));
            Polyline(Points(r, 8, static_cast<uint64_t>(n), true), r.type == 0x0324);
            break;
        }
        case 0x0538: {  // PolyPolygon
            const int polys = std::max(0, r.W(0));
            if (static_cast<size_t>(polys) + 1 > params) break;
            std::vector<std::vector<QPointF>> list;
            size_t at = 8 + static_cast<size_t>(polys) * 2;
            for (int i = 0; i < polys; ++i) {
                const int n = std::max(0, static_cast<int>(r.U16(8 + 2 * i)));
                std::vector<QPointF> pts = Points(r, at, static_cast<uint64_t>(n), true);
                if (pts.size() != static_cast<size_t>(n)) break;
                at += static_cast<size_t>(n) * 4;
                list.push_back(std::move(pts));
            }
            PolyPoly(list, true);
            break;
        }
        case 0x041F: {  // SetPixel: colour, y, x
            QPainterPath p;
            p.addRect(QRectF(r.W(3), r.W(2), 1, 1));
            FillArea(p, ColorRef(r.U32(6)));
            break;
        }
        case 0x0521: {  // TextOut: count, text, y, x
            const int n = std::max(0, r.W(0));
            const size_t after = 8 + ((static_cast<size_t>(n) + 1) & ~size_t(1));
            if (!r.Has(8, static_cast<size_t>(n)) || !r.Has(after, 4)) break;
            ByteText(QPointF(r.I16(after + 2), r.I16(after)), r.p + 8, static_cast<size_t>(n), {}, 0, std::nullopt);
            break;
        }
        case 0x0A32: {  // ExtTextOut: y, x, count, options, [rectangle], text, [advances]
            const int n = std::max(0, r.W(2));
            const uint16_t options = r.U16(12);
            size_t at = 14;
            std::optional<QRectF> rect;
            if (options & 6) {
                rect = QRectF(QPointF(r.I16(14), r.I16(16)), QPointF(r.I16(18), r.I16(20)));
                at += 8;
            }
            if (!r.Has(at, static_cast<size_t>(n))) break;
            std::vector<double> dx;
            const size_t dxAt = at + ((static_cast<size_t>(n) + 1) & ~size_t(1));
            if (r.Has(dxAt, static_cast<size_t>(n) * 2))
                for (int i = 0; i < n; ++i) dx.push_back(r.I16(dxAt + 2 * static_cast<size_t>(i)));
            ByteText(QPointF(r.W(1), r.W(0)), r.p + at, static_cast<size_t>(n), dx, options, rect);
            break;
        }
        case 0x02FA:  // CreatePenIndirect: style, width (x, y), colour
            Create(0, MakePen(r.U16(6), r.W(1), ColorRef(r.U32(12))));
            break;
        case 0x02FC:  // CreateBrushIndirect: style, colour, hatch
            Create(0, MakeBrush(r.U16(6), ColorRef(r.U32(8)), r.W(3), r.offset));
            break;
        case 0x0142: Create(0, MakeBrush(5, Qt::black, 0, r.offset)); break;
        case 0x01F9: Create(0, MakeBrush(3, Qt::black, 0, r.offset)); break;
        case 0x02FB: {  // CreateFontIndirect
            Object o;
            o.type = Object::Font;
            FontSpec& f = o.font;
            f.height = r.W(0);
            f.width = r.W(1);
            f.escapement = r.W(2);
            f.weight = r.W(4);
            f.italic = r.Has(16, 1) && r.p[16];
            f.underline = r.Has(17, 1) && r.p[17];
            f.strikeOut = r.Has(18, 1) && r.p[18];
            f.charset = r.Has(19, 1) ? r.p[19] : 1;
            size_t len = 0;
            while (len < 32 && r.Has(24 + len, 1) && r.p[24 + len]) ++len;
            // Japanese face names are stored in Shift-JIS whatever the character set.
            f.face = Decode(r.p + std::min<size_t>(24, r.n), len, f.charset == 2 || f.charset == 0 ? 128 : f.charset);
            Create(0, std::move(o));
            break;
        }
        case 0x06FF: Create(0, WmfRegion(r)); break;
        case 0x00F7: {  // CreatePalette and other objects that only take a place
            Object o;
            o.type = Object::Other;
            Create(0, std::move(o));
            break;
        }
        case 0x012D: Select(r.U16(6)); break;
        case 0x01F0: Delete(r.U16(6)); break;
        case 0x0228: case 0x012B: {  // FillRegion (region, brush), PaintRegion (region)
            const Object* region = ObjectAt(r.U16(6));
            if (!region || region->type != Object::Region) break;
            QBrush brush = dc_.brush;
            if (r.type == 0x0228) {
                const Object* b = ObjectAt(r.U16(8));
                if (b && b->type == Object::Brush) brush = b->brush;
            }
            FillArea(region->region, brush);
            break;
        }
        case 0x0940: {  // DIBBitBlt
            const bool noBitmap = r.n / 2 == (r.type >> 8) + 3u;
            const size_t k = noBitmap ? 1 : 0;
            Blit(r, QRectF(r.W(7 + k), r.W(6 + k), r.W(5 + k), r.W(4 + k)), QRectF(r.W(3), r.W(2), r.W(5 + k), r.W(4 + k)),
                 r.U32(6), false);
            break;
        }
        case 0x0B41: {  // DIBStretchBlt
            const bool noBitmap = r.n / 2 == (r.type >> 8) + 3u;
            const size_t k = noBitmap ? 1 : 0;
            Blit(r, QRectF(r.W(9 + k), r.W(8 + k), r.W(7 + k), r.W(6 + k)), QRectF(r.W(5), r.W(4), r.W(3), r.W(2)),
                 r.U32(6), false);
            break;
        }
        case 0x0F43:  // StretchDIB
            Blit(r, QRectF(r.W(10), r.W(9), r.W(8), r.W(7)), QRectF(r.W(6), r.W(5), r.W(4), r.W(3)), r.U32(6), true);
            break;
        case 0x0D33:  // SetDIBitsToDevice
            Blit(r, QRectF(r.W(8), r.W(7), r.W(6), r.W(5)), QRectF(r.W(4), r.W(3), r.W(6), r.W(5)), 0x00CC0020, true);
            break;
        default: break;
        }
    }

    const Metafile& mf_;
    const Metafile::Header& head_;
    const bool emf_;
    QPainter& painter_;
    const QRectF target_;
    QTransform frameToPainter_;
    DeviceContext dc_;
    std::vector<DeviceContext> saved_;
    std::vector<Object> objects_;  // WMF object table
    size_t freeHint_ = 0;
    std::map<uint32_t, Object> emfObjects_;
    bool inPath_ = false;
    QPainterPath path_;
    std::map<std::string, iconv_t> converters_;
};

// Records that set the window before anything is drawn give a plain WMF its frame.
bool IsWmfSetup(uint32_t type) {
    switch (type) {
    case 0x0103: case 0x0102: case 0x0104: case 0x0106: case 0x0107: case 0x020B: case 0x020C: case 0x020D: case 0x020E:
    case 0x0201: case 0x0209: case 0x012E: case 0x001E: case 0x0127: case 0x02FA: case 0x02FC: case 0x02FB: case 0x012D:
    case 0x01F0: case 0x00F7: case 0x0234: case 0x0035: case 0x0626:
        return true;
    default:
        return false;
    }
}

}  // namespace

std::shared_ptr<const Metafile> Metafile::Read(const QByteArray& bytes, MetafileKind kind, qint64 bitmapBudget) {
    std::shared_ptr<Metafile> m(new Metafile);
    m->bytes_ = bytes;
    m->kind_ = kind;
    m->head_ = std::make_shared<Header>();
    Header& h = *m->head_;
    const size_t size = static_cast<size_t>(bytes.size());
    const Rec file{reinterpret_cast<const unsigned char*>(bytes.constData()), size, 0, 0};
    double width = 0, height = 0;  // pixels at 96 dots an inch

    if (kind == MetafileKind::Emf) {
        if (size < 88 || file.U32(0) != 1 || file.U32(40) != 0x464D4520) Refuse(kind, "拡張メタファイルではありません");
        const uint32_t headerSize = file.U32(4);
        if (headerSize < 88 || headerSize > size) Refuse(kind, "ヘッダーが壊れています");
        // The description must lie within the header: a reader trusting it would run past the file.
        const uint64_t descChars = file.U32(60), descAt = file.U32(64);
        if (descChars != 0 && (descAt < 88 || descAt + descChars * 2 > headerSize)) Refuse(kind, "ヘッダーが壊れています");
        const double devW = file.I32(72), devH = file.I32(76), mmW = file.I32(80), mmH = file.I32(84);
        if (devW > 0 && devH > 0 && mmW > 0 && mmH > 0) {
            h.dpmmX = devW / mmW;
            h.dpmmY = devH / mmH;
        }
        const double fl = file.I32(24), ft = file.I32(28), fr = file.I32(32), fb = file.I32(36);
        if (fr > fl && fb > ft) {
            h.frame = QRectF(fl * h.dpmmX / 100, ft * h.dpmmY / 100, (fr - fl) * h.dpmmX / 100, (fb - ft) * h.dpmmY / 100);
            width = (fr - fl) * 96 / 2540;
            height = (fb - ft) * 96 / 2540;
        } else {
            const double bl = file.I32(8), bt = file.I32(12), br = file.I32(16), bb = file.I32(20);
            if (br >= bl && bb >= bt) {
                h.frame = QRectF(bl, bt, br - bl + 1, bb - bt + 1);
                width = h.frame.width() * 96 / 25.4 / h.dpmmX;
                height = h.frame.height() * 96 / 25.4 / h.dpmmY;
            }
        }
        h.firstRecord = headerSize;
    } else {
        size_t at = 0;
        if (file.U32(0) == 0x9AC6CDD7u) {
            const double l = file.I16(6), t = file.I16(8), r = file.I16(10), b = file.I16(12);
            const double inch = file.U16(14) ? file.U16(14) : 1440;
            h.frame = QRectF(QPointF(l, t), QPointF(r, b)).normalized();
            width = h.frame.width() * 96 / inch;
            height = h.frame.height() * 96 / inch;
            at = 22;
        }
        if (size < at + 18 || (file.U16(at) != 1 && file.U16(at) != 2) || file.U16(at + 2) != 9)
            Refuse(kind, "メタファイルとして読めません");
        h.wmfObjects = file.U16(at + 10);
        h.firstRecord = at + 18;
    }

    // Every record within the file, and the bitmaps decoded once, within the budget.
    qint64 left = bitmapBudget;
    std::optional<QPointF> org;
    std::optional<QSizeF> ext;
    bool drawn = false;
    const bool framing = ForEachRecord(bytes, kind, h.firstRecord, [&](const Rec& r) {
        if (auto bmp = BitmapOfRecord(r, kind, left)) m->bitmaps_.emplace(r.offset, std::move(*bmp));
        if (kind == MetafileKind::Wmf && !drawn) {
            if (r.type == 0x020B && !org) org = QPointF(r.W(1), r.W(0));
            if (r.type == 0x020C && !ext) ext = QSizeF(r.W(1), r.W(0));
            drawn = !IsWmfSetup(r.type);
        }
    });
    if (!framing) Refuse(kind, "記録が途中で切れています");
    if (kind == MetafileKind::Wmf && h.frame.isEmpty() && ext && ext->width() != 0 && ext->height() != 0) {
        // A plain WMF has no size of its own: its window stands for the picture, in pixels
        // when small, else reduced to a screenful.
        const QPointF o = org.value_or(QPointF());
        h.frame = QRectF(o, *ext).normalized();
        width = h.frame.width();
        height = h.frame.height();
        const double longest = std::max(width, height);
        if (longest > 2048) {
            width = width * 1024 / longest;
            height = height * 1024 / longest;
        }
        // The frame keeps the window's direction: a window with its y axis up draws upright.
        h.frame = QRectF(o, *ext);
    }
    if (!(h.frame.width() != 0 && h.frame.height() != 0 && std::isfinite(width) && std::isfinite(height)) ||
        std::lround(width) < 1 || std::lround(height) < 1)
        Refuse(kind, "大きさがありません");
    const double longest = std::max(width, height);
    if (longest > 16384) {  // a size nobody can look at whole: keep the proportions
        width = width * 16384 / longest;
        height = height * 16384 / longest;
    }
    m->size_ = QSize(std::max(1, static_cast<int>(std::lround(width))), std::max(1, static_cast<int>(std::lround(height))));
    return m;
}

void Metafile::Draw(QPainter& painter, const QRectF& target) const {
    if (target.isEmpty()) return;
    Player(*this, painter, target).Play();
}

QImage RenderMetafile(const QByteArray& bytes, MetafileKind kind, QSize size, qint64 budget) {
    const std::shared_ptr<const Metafile> m = Metafile::Read(bytes, kind, budget);
    if (size.isEmpty()) size = m->Size();
    const double pixels = static_cast<double>(size.width()) * size.height() * 4;
    if (pixels > static_cast<double>(budget)) {
        const double f = std::sqrt(static_cast<double>(budget) / pixels);
        size = QSize(std::max(1, static_cast<int>(size.width() * f)), std::max(1, static_cast<int>(size.height() * f)));
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) Refuse(kind, "画像が大きすぎます");
    image.fill(Qt::transparent);
    QPainter painter(&image);
    m->Draw(painter, QRectF(QPointF(0, 0), size));
    return image;
}

}  // namespace platform
