#include <algorithm>
#include <cmath>

#include "pictures/metafile/MetafilePlayer.h"
#include "pictures/metafile/MetafileText.h"

namespace platform::metafile {

namespace {

QTransform Xform(const Rec& r, size_t off) {
    return QTransform(r.F32(off), r.F32(off + 4), r.F32(off + 8), r.F32(off + 12), r.F32(off + 16), r.F32(off + 20));
}

}  // namespace

void Player::Emf(const Rec& r) {
    if (head_.playPlus) {
        // A picture drawn in EMF+ draws only the EMF records handed to GDI in its midst.
        if (r.type == 70) {
            PlayPlus(r);
            return;
        }
        if (!plusGdi_) return;
    }
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
        o.font = LogFontFields(r, 12, 4);
        FontSpec& f = o.font;
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
    case 78: MaskBlit(r); break;
    case 79: PlgBlit(r); break;
    case 114: AlphaBlend(r); break;
    case 116: TransparentBlit(r); break;
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
            const SymbolFace face = SymbolFaceOf(dc_.font);
            QString text;
            std::vector<double> wideDx;
            const bool given = dx.size() == count;
            for (size_t i = 0; i < count; ++i) {
                const char16_t c = r.U16(offString + 2 * i);
                // A symbol face's codes come as they are or moved to the private use area.
                const bool code = face != SymbolFace::None && face != SymbolFace::Other &&
                                  (c < 0x100 || (c >= 0xF020 && c <= 0xF0FF));
                AppendSign(text, given ? &wideDx : nullptr, code ? Sign(face, static_cast<unsigned char>(c & 0xFF)) : c,
                           given ? dx[i] : 0);
            }
            Text(ref, text, given ? std::move(wideDx) : std::vector<double>(), options, rect);
        } else {
            ByteText(ref, r.p + offString, count, dx, options, rect);
        }
        break;
    }
    default: break;  // palettes, colour management, comments, and records this player leaves alone
    }
}

}  // namespace platform::metafile
