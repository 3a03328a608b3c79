#include "pictures/metafile/Metafile.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <optional>

#include "pictures/metafile/MetafileBitmaps.h"
#include "pictures/metafile/MetafileEmfPlus.h"
#include "pictures/metafile/MetafilePlayer.h"
#include "pictures/Pictures.h"

namespace platform {

using metafile::ForEachRecord;
using metafile::Rec;
using metafile::Refuse;

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
        // A reference device of less than a tenth of a pixel or more than a thousand pixels a
        // millimetre is no device: it would magnify the drawing thousands of times, and a few
        // wide lines would take seconds. Such a file is drawn as on a screen.
        const auto device = [](double pixels, double mm) { return pixels > 0 && mm > 0 && pixels / mm >= 0.1 && pixels / mm <= 1000; };
        if (device(devW, mmW) && device(devH, mmH)) {
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
    metafile::PlusScan plus;
    const bool framing = ForEachRecord(bytes, kind, h.firstRecord, [&](const Rec& r) {
        if (kind == MetafileKind::Emf && r.type == 70) metafile::ScanPlus(r, plus, left, m->bitmaps_);
        if (auto bmp = metafile::BitmapOfRecord(r, kind, left)) m->bitmaps_.emplace(r.offset, std::move(*bmp));
        if (kind == MetafileKind::Emf)
            if (auto mask = metafile::MaskOfRecord(r, left)) m->masks_.emplace(r.offset, std::move(*mask));
        if (kind == MetafileKind::Wmf && !drawn) {
            if (r.type == 0x020B && !org) org = QPointF(r.W(1), r.W(0));
            if (r.type == 0x020C && !ext) ext = QSizeF(r.W(1), r.W(0));
            drawn = !metafile::IsWmfSetup(r.type);
        }
    });
    if (!framing) Refuse(kind, "記録が途中で切れています");
    if (plus.seen) {
        // EMF+ is drawn as GDI+ draws it. A file that also holds EMF records for players that
        // know no EMF+ falls back to them when its EMF+ uses what this player cannot draw; a
        // file of EMF+ alone that draws nothing this player can is refused with the reason.
        h.plus = true;
        h.plusDual = plus.dual;
        h.plusDpiX = plus.dpiX;
        h.plusDpiY = plus.dpiY;
        h.playPlus = !plus.dual || plus.unplayable.empty();
        if (!plus.dual && plus.drawn == 0 && !plus.unplayable.empty()) Refuse(kind, plus.unplayable);
    }
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
    metafile::Player(*this, painter, target).Play();
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
