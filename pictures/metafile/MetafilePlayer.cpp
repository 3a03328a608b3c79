#include "pictures/metafile/MetafilePlayer.h"

#include <QPaintEngine>
#include <algorithm>
#include <cmath>

namespace platform::metafile {

QBrush HatchBrush(int hatch, const QColor& colour) {
    static const Qt::BrushStyle styles[] = {Qt::HorPattern, Qt::VerPattern, Qt::BDiagPattern,
                                            Qt::FDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    return QBrush(colour, hatch >= 0 && hatch < 6 ? styles[hatch] : Qt::SolidPattern);
}

bool GlyphsFit(const QTransform& t, double pixels) {
    const double a = t.m11(), b = t.m12(), c = t.m21(), d = t.m22();
    const double sum = a * a + b * b + c * c + d * d, det = std::abs(a * d - b * c);
    if (!std::isfinite(sum) || !std::isfinite(det) || det <= 0) return false;
    const double largest = std::sqrt((sum + std::sqrt(std::max(0.0, sum * sum - 4 * det * det))) / 2);
    const double smallest = det / largest;
    return largest * pixels <= 16384 && smallest * pixels >= 0.05 && largest <= 64 * smallest;
}

Player::Player(const Metafile& mf, QPainter& painter, const QRectF& target)
    : mf_(mf), head_(mf.Head()), emf_(mf.Kind() == MetafileKind::Emf), painter_(painter), target_(target) {
    const QRectF& f = head_.frame;
    frameToPainter_ = QTransform(target.width() / f.width(), 0, 0, target.height() / f.height(),
                                 target.left() - f.left() * target.width() / f.width(),
                                 target.top() - f.top() * target.height() / f.height()) *
                      painter.worldTransform();
    if (!emf_) objects_.resize(static_cast<size_t>(head_.wmfObjects));
}

Player::~Player() {
    for (auto& [name, cd] : converters_)
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
}

void Player::Play() {
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

QTransform Player::LogicalToDevice(bool withWorld) const {
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
    return withWorld ? dc_.world * page : page;
}

QPainterPath Player::Everything() const {
    QPainterPath p;
    p.addRect(head_.frame.adjusted(-1, -1, 1, 1));
    return p;
}

void Player::ApplyClip() {
    painter_.restore();
    painter_.save();
    painter_.setClipRect(target_, Qt::IntersectClip);
    if (dc_.clip) {
        painter_.setWorldTransform(frameToPainter_);
        painter_.setClipPath(*dc_.clip, Qt::IntersectClip);
    }
}

void Player::CombineClip(const QPainterPath& area, int mode) {
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

void Player::Prepare(bool stroke, bool fill) {
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

void Player::Shape(QPainterPath path, bool fill) {
    if (inPath_) {
        path_.addPath(path);
        return;
    }
    path.setFillRule(dc_.fillRule);
    Prepare(true, fill);
    painter_.drawPath(path);
}

void Player::Polyline(const std::vector<QPointF>& pts, bool closed) {
    if (pts.empty()) return;
    QPainterPath p(pts[0]);
    for (size_t i = 1; i < pts.size(); ++i) p.lineTo(pts[i]);
    if (closed) p.closeSubpath();
    Shape(p, closed);
}

void Player::From(const std::vector<QPointF>& pts, bool bezier) {
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

void Player::Bezier(const std::vector<QPointF>& pts) {
    if (pts.empty()) return;
    QPainterPath p(pts[0]);
    for (size_t i = 1; i + 3 <= pts.size(); i += 3) p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    Shape(p, false);
}

void Player::PolyPoly(const std::vector<std::vector<QPointF>>& polys, bool closed) {
    QPainterPath p;
    for (const auto& poly : polys) {
        if (poly.empty()) continue;
        p.moveTo(poly[0]);
        for (size_t i = 1; i < poly.size(); ++i) p.lineTo(poly[i]);
        if (closed) p.closeSubpath();
    }
    Shape(p, closed);
}

void Player::ArcShape(QRectF box, QPointF start, QPointF end, int kind) {
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

void Player::Rectangle(QRectF r, double rx, double ry) {
    QPainterPath p;
    if (rx > 0 && ry > 0)
        p.addRoundedRect(r.normalized(), rx / 2, ry / 2);
    else
        p.addRect(r.normalized());
    Shape(p, true);
}

void Player::Ellipse(QRectF r) {
    QPainterPath p;
    p.addEllipse(r.normalized());
    Shape(p, true);
}

void Player::FillArea(const QPainterPath& p, const QBrush& brush) {
    painter_.setWorldTransform(Full());
    painter_.fillPath(p, brush);
}

void Player::Blit(const Rec& r, QRectF dest, QRectF src, uint32_t rop, bool fromBottom) {
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

namespace {

// The part of an image a blit takes, in its pixels from the top; empty when it lies outside.
QRect SourcePart(const QImage& img, QRectF src) {
    if (src.width() <= 0 || src.height() <= 0) src = QRectF(QPointF(0, 0), img.size());
    return src.toAlignedRect().intersected(img.rect());
}

// A transform taking the rectangle `from` onto the rectangle `to`.
QTransform RectToRect(const QRectF& from, const QRectF& to) {
    const double sx = to.width() / from.width(), sy = to.height() / from.height();
    return QTransform(sx, 0, 0, sy, to.left() - from.left() * sx, to.top() - from.top() * sy);
}

// Whether a mask pixel is set: its colour index where it has one, else whether it is light.
bool MaskBit(const QImage& mask, int x, int y) {
    if (!mask.valid(x, y)) return false;
    if (mask.format() == QImage::Format_Mono || mask.format() == QImage::Format_MonoLSB ||
        mask.format() == QImage::Format_Indexed8)
        return mask.pixelIndex(x, y) != 0;
    return qGray(mask.pixel(x, y)) > 127;
}

// A ternary raster operation, named by its index byte, as the full code Blit knows.
uint32_t RopOfIndex(uint32_t index) {
    switch (index) {
    case 0x00: return 0x00000042;
    case 0x33: return 0x00330008;
    case 0x66: return 0x00660046;
    case 0x88: return 0x008800C6;
    case 0xEE: return 0x00EE0086;
    case 0xF0: return 0x00F00021;
    case 0xFF: return 0x00FF0062;
    default: return 0x00CC0020;
    }
}

}  // namespace

void Player::Place(const QImage& img, const QRectF& src, const QTransform& place, double opacity, bool smooth) {
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter_.setWorldTransform(place * Full());
    painter_.setOpacity(opacity);
    painter_.drawImage(src, img, src);
    painter_.restore();
}

void Player::AlphaBlend(const Rec& r) {
    const Metafile::Bitmap* bmp = mf_.BitmapOf(r.offset);
    if (!bmp || r.n < 108 || r.p[40] != 0) return;  // only "source over" is defined
    const QRect src = SourcePart(bmp->image, QRectF(r.I32(44), r.I32(48), r.I32(100), r.I32(104)));
    const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
    if (src.isEmpty() || dest.isEmpty()) return;
    // With per-pixel alpha the colours come multiplied by it (those above it would overflow
    // the blend, so they are held to it); without, the source is opaque whatever its fourth
    // byte holds.
    const bool perPixel = r.p[43] & 1;
    QImage part = bmp->image.copy(src).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < part.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
        for (int x = 0; x < part.width(); ++x) {
            const QRgb p = line[x];
            const int a = perPixel ? qAlpha(p) : 255;
            line[x] = qRgba(std::min(qRed(p), a), std::min(qGreen(p), a), std::min(qBlue(p), a), a);
        }
    }
    part.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    const QRectF whole(QPointF(0, 0), part.size());
    Place(part, whole, RectToRect(whole, dest), r.p[42] / 255.0);
}

void Player::TransparentBlit(const Rec& r) {
    const Metafile::Bitmap* bmp = mf_.BitmapOf(r.offset);
    if (!bmp || r.n < 108) return;
    const QRect src = SourcePart(bmp->image, QRectF(r.I32(44), r.I32(48), r.I32(100), r.I32(104)));
    const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
    if (src.isEmpty() || dest.isEmpty()) return;
    const QColor key = ColorRef(r.U32(40));
    QImage part = bmp->image.copy(src).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < part.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
        for (int x = 0; x < part.width(); ++x)
            if ((line[x] & 0xFFFFFF) == (key.rgb() & 0xFFFFFF)) line[x] = 0;
    }
    const QRectF whole(QPointF(0, 0), part.size());
    Place(part, whole, RectToRect(whole, dest), 1, false);
}

// Where a mask is given, each source pixel takes the foreground operation where its mask
// bit is set and the background one elsewhere: copy, keep the destination, black, white or
// the inverted source.
void Player::MaskBlit(const Rec& r) {
    const Metafile::Bitmap* bmp = mf_.BitmapOf(r.offset);
    const Metafile::Bitmap* mask = mf_.MaskOf(r.offset);
    const uint32_t rop = r.U32(40), fore = (rop >> 16) & 0xFF, back = (rop >> 24) & 0xFF;
    const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
    const QRectF given(r.I32(44), r.I32(48), r.I32(32), r.I32(36));
    if (!mask || !bmp) {
        if (fore != 0xAA) Blit(r, dest, given, RopOfIndex(fore), false);
        return;
    }
    const QRect src = SourcePart(bmp->image, given);
    if (src.isEmpty() || dest.isEmpty()) return;
    const QPoint maskAt(r.I32(100), r.I32(104));
    QImage part = bmp->image.copy(src).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < part.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(part.scanLine(y));
        for (int x = 0; x < part.width(); ++x) {
            const uint32_t op = MaskBit(mask->image, maskAt.x() + x, maskAt.y() + y) ? fore : back;
            switch (op) {
            case 0xAA: line[x] = 0; break;
            case 0x00: line[x] = qRgb(0, 0, 0); break;
            case 0xFF: line[x] = qRgb(255, 255, 255); break;
            case 0x33: line[x] = 0xFF000000u | (~line[x] & 0xFFFFFF); break;
            default: line[x] |= 0xFF000000u; break;
            }
        }
    }
    const QRectF whole(QPointF(0, 0), part.size());
    Place(part, whole, RectToRect(whole, dest), 1, false);
}

void Player::PlgBlit(const Rec& r) {
    const Metafile::Bitmap* bmp = mf_.BitmapOf(r.offset);
    if (!bmp || r.n < 140) return;
    const QPointF p0(r.I32(24), r.I32(28)), p1(r.I32(32), r.I32(36)), p2(r.I32(40), r.I32(44));
    const QRect src = SourcePart(bmp->image, QRectF(r.I32(48), r.I32(52), r.I32(56), r.I32(60)));
    if (src.isEmpty()) return;
    // The source's top-left corner goes to the first point, its top-right to the second and
    // its bottom-left to the third.
    const QPointF across = (p1 - p0) / src.width(), down = (p2 - p0) / src.height();
    const QTransform place(across.x(), across.y(), down.x(), down.y(), p0.x() - src.left() * across.x() - src.top() * down.x(),
                           p0.y() - src.left() * across.y() - src.top() * down.y());
    QImage img = bmp->image.copy(src).convertToFormat(QImage::Format_ARGB32);
    if (const Metafile::Bitmap* mask = mf_.MaskOf(r.offset)) {
        const QPoint maskAt(r.I32(112), r.I32(116));
        for (int y = 0; y < img.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x)
                if (!MaskBit(mask->image, maskAt.x() + x, maskAt.y() + y)) line[x] = 0;
        }
    }
    Place(img, QRectF(QPointF(0, 0), img.size()), QTransform::fromTranslate(src.left(), src.top()) * place);
}

Object* Player::ObjectAt(uint32_t index) {
    if (emf_) {
        auto it = emfObjects_.find(index);
        return it == emfObjects_.end() ? nullptr : &it->second;
    }
    return index < objects_.size() && objects_[index].type != Object::None ? &objects_[index] : nullptr;
}

void Player::Create(uint32_t emfIndex, Object obj) {
    if (emf_) {
        if (emfIndex != 0) emfObjects_[emfIndex] = std::move(obj);  // 0 is the file itself
        return;
    }
    // A WMF object takes the lowest free place in the table.
    while (freeHint_ < objects_.size() && objects_[freeHint_].type != Object::None) ++freeHint_;
    if (freeHint_ < objects_.size()) objects_[freeHint_] = std::move(obj);
}

void Player::Delete(uint32_t index) {
    if (emf_) {
        emfObjects_.erase(index);
    } else if (index < objects_.size()) {
        objects_[index] = Object();
        freeHint_ = std::min<size_t>(freeHint_, index);
    }
}

void Player::Select(uint32_t index) {
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

Object Player::MakePen(uint32_t style, double width, QColor colour) {
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

Object Player::MakeBrush(uint32_t style, QColor colour, int hatch, size_t recordOffset) {
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

void Player::SaveDc() {
    if (saved_.size() < 4096) saved_.push_back(dc_);
}

void Player::RestoreDc(int relative) {
    if (relative >= 0 || saved_.empty()) return;
    const size_t back = std::min<size_t>(static_cast<size_t>(-static_cast<int64_t>(relative)), saved_.size());
    dc_ = saved_[saved_.size() - back];
    saved_.resize(saved_.size() - back);
    ApplyClip();
}

void Player::MoveTo(QPointF p) {
    dc_.cur = p;
    if (inPath_) path_.moveTo(p);
}

void Player::OffsetClip(QPointF d) {
    if (!dc_.clip) return;
    const QTransform t = LogicalToDevice();
    const QPointF dd = t.map(d) - t.map(QPointF(0, 0));
    dc_.clip = dc_.clip->translated(dd);
    ApplyClip();
}

}  // namespace platform::metafile
