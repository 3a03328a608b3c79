#include <algorithm>

#include "pictures/metafile/MetafilePlayer.h"
#include "pictures/metafile/MetafileText.h"

namespace platform::metafile {

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


Object Player::WmfRegion(const Rec& r) {
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

QRectF Player::WmfBox(const Rec& r, size_t first) {
    return QRectF(QPointF(r.W(first + 3), r.W(first + 2)), QPointF(r.W(first + 1), r.W(first)));
}

void Player::Wmf(const Rec& r) {
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
        o.font = LogFontFields(r, 6, 2);
        FontSpec& f = o.font;
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

}  // namespace platform::metafile
