#include "app/AppIcon.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace {

// Each picture is drawn in a 100 x 100 drawing box scaled to the size asked for,
// so the small sizes keep the proportions of the large ones.
using Drawing = std::function<void(QPainter&)>;

QPixmap Render(int size, const Drawing& draw) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 100.0, size / 100.0);
    draw(p);
    p.end();
    return QPixmap::fromImage(image);
}

QIcon IconOf(const Drawing& draw) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(Render(size, draw));
    return icon;
}

void Magnifier(QPainter& p, QPointF centre, qreal radius, qreal ring, const QColor& rim, const QColor& handle) {
    const qreal reach = radius * 0.7071;
    const QPointF handleStart = centre + QPointF(reach, reach);
    const QPointF handleEnd = centre + QPointF(radius * 1.55, radius * 1.55);
    p.setPen(QPen(handle, ring * 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(handleStart, handleEnd);
    p.setPen(QPen(rim, ring));
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawEllipse(centre, radius, radius);
}

}  // namespace

void DrawAppIcon(QPainter& p) {
    QLinearGradient bg(0, 0, 100, 100);
    bg.setColorAt(0, QColor(0x3a, 0x4f, 0xc8));
    bg.setColorAt(1, QColor(0x17, 0xa5, 0x9a));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(4, 4, 92, 92), 20, 20);

    // Eighth note: tilted head, stem, one flag.
    p.setBrush(Qt::white);
    p.save();
    p.translate(31, 68);
    p.rotate(-22);
    p.drawEllipse(QPointF(0, 0), 13, 9);
    p.restore();
    p.drawRect(QRectF(39, 16, 5.5, 50));
    QPainterPath flag;
    flag.moveTo(44.5, 16);
    flag.cubicTo(50, 26, 62, 28, 60, 44);
    flag.cubicTo(58, 36, 52, 32, 44.5, 31);
    flag.closeSubpath();
    p.drawPath(flag);

    Magnifier(p, QPointF(60, 54), 17, 7, QColor(0xff, 0xc8, 0x3d), QColor(0x1c, 0x24, 0x3a));
}

namespace {

void DrawHelp(QPainter& p) {
    QLinearGradient bg(0, 0, 0, 100);
    bg.setColorAt(0, QColor(0x4c, 0xb8, 0x5f));
    bg.setColorAt(1, QColor(0x1f, 0x7a, 0x3e));
    p.setPen(QPen(QColor(0x15, 0x55, 0x2b), 3));
    p.setBrush(bg);
    p.drawEllipse(QPointF(50, 50), 45, 45);

    QPainterPath hook;
    const QRectF bow(33, 18, 34, 32);
    hook.arcMoveTo(bow, 165);
    hook.arcTo(bow, 165, -255);
    hook.lineTo(50, 62);
    p.setPen(QPen(Qt::white, 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(50, 79), 6.5, 6.5);
}

void DrawSearch(QPainter& p) {
    Magnifier(p, QPointF(40, 40), 27, 9, QColor(0x1d, 0x4e, 0x9e), QColor(0x33, 0x33, 0x33));
    // Circular arrow inside the glass: search again.
    const QRectF turn(26, 26, 28, 28);
    QPainterPath arc;
    arc.arcMoveTo(turn, 60);
    arc.arcTo(turn, 60, 260);
    p.setPen(QPen(QColor(0x1e, 0x9e, 0x3a), 6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    const QPointF tip = arc.currentPosition();
    QPolygonF head;
    head << tip + QPointF(-8, -4) << tip + QPointF(8, -6) << tip + QPointF(3, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x9e, 0x3a));
    p.drawPolygon(head);
}

void DrawQuickSearch(QPainter& p) {
    Magnifier(p, QPointF(40, 40), 27, 9, QColor(0x1d, 0x4e, 0x9e), QColor(0x33, 0x33, 0x33));
    // Lightning bolt across the glass: the stored list comes at once.
    QPolygonF bolt;
    bolt << QPointF(46, 14) << QPointF(26, 44) << QPointF(39, 44) << QPointF(33, 68) << QPointF(56, 34)
         << QPointF(43, 34) << QPointF(50, 14);
    p.setPen(QPen(QColor(0xa0, 0x60, 0x00), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(QColor(0xff, 0xc8, 0x1e));
    p.drawPolygon(bolt);
}

}  // namespace

QIcon AppIcon() { return IconOf(DrawAppIcon); }
QIcon HelpIcon() { return IconOf(DrawHelp); }
QPixmap SearchGlyph() { return Render(32, DrawSearch); }
QPixmap QuickSearchGlyph() { return Render(32, DrawQuickSearch); }
