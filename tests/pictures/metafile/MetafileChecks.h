#pragma once
// What the metafile tests look at in a drawn picture: colours at points and ink in areas.
#include <QColor>
#include <QImage>
#include <string>

#include "support/MetafileMaker.h"
#include "pictures/metafile/Metafile.h"

namespace metafilechecks {

using metafilemaker::Emf;
using metafilemaker::Wmf;
using platform::MetafileKind;

inline constexpr uint32_t kBlue = 0x00FF0000, kRed = 0x000000FF, kBlack = 0;

inline QImage Render(const std::string& bytes, MetafileKind kind, QSize size = QSize(200, 100),
              qint64 budget = platform::kMetafileBitmapBudget) {
    return platform::RenderMetafile(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), kind, size, budget);
}
inline QImage RenderEmf(const Emf& e, QSize size = QSize(200, 100)) { return Render(e.Build(), MetafileKind::Emf, size); }
inline QImage RenderWmf(const Wmf& w, QSize size = QSize(200, 100)) { return Render(w.Build(), MetafileKind::Wmf, size); }

inline bool Is(const QImage& img, int x, int y, QColor want) {
    const QColor c = img.pixelColor(x, y);
    return c.alpha() > 250 && std::abs(c.red() - want.red()) < 8 && std::abs(c.green() - want.green()) < 8 &&
           std::abs(c.blue() - want.blue()) < 8;
}
inline bool Empty(const QImage& img, int x, int y) { return img.pixelColor(x, y).alpha() == 0; }

// Pixels of ink (opaque and dark) within a rectangle.
inline int Ink(const QImage& img, QRect r = QRect()) {
    if (r.isNull()) r = img.rect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += c.alpha() > 128 && c.lightness() < 128;
        }
    return n;
}
// Where the ink of a picture lies: the bounding box of its dark pixels and their centre.
struct InkPlace {
    QRect box;
    QPointF centre;
    int count = 0;
};
inline InkPlace WhereInk(const QImage& img, QRect within = QRect()) {
    if (within.isNull()) within = img.rect();
    InkPlace out;
    double sx = 0, sy = 0;
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.alpha() <= 128 || c.lightness() >= 128) continue;
            out.box = out.box.united(QRect(x, y, 1, 1));
            sx += x;
            sy += y;
            ++out.count;
        }
    if (out.count) out.centre = QPointF(sx / out.count, sy / out.count);
    return out;
}

// Whether a pixel is near a colour, alpha included.
inline bool Near(const QImage& img, int x, int y, QColor want, int tolerance = 6) {
    const QColor c = img.pixelColor(x, y);
    return std::abs(c.red() - want.red()) <= tolerance && std::abs(c.green() - want.green()) <= tolerance &&
           std::abs(c.blue() - want.blue()) <= tolerance && std::abs(c.alpha() - want.alpha()) <= tolerance;
}

}  // namespace metafilechecks
