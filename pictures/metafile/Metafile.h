#pragma once
// Windows metafiles (WMF, placeable or not) and enhanced metafiles (EMF) played record by
// record onto a QPainter. Nothing named inside a file is ever opened: the player knows no
// records that refer to other files, and every field is read within its record and the file.
#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <map>
#include <memory>

class QPainter;

namespace platform {

enum class MetafileKind { Wmf, Emf };

// What the bitmaps inside one metafile may take once decoded, at four bytes a pixel.
constexpr qint64 kMetafileBitmapBudget = 512LL * 1024 * 1024;

class Metafile {
public:
    // Checks the header and every record's framing and decodes the bitmaps the records hold.
    // A damaged file, or bitmaps past `bitmapBudget`, raise EInvalidGraphic with a reason.
    static std::shared_ptr<const Metafile> Read(const QByteArray& bytes, MetafileKind kind,
                                                qint64 bitmapBudget = kMetafileBitmapBudget);

    // The picture's own size in pixels at 96 dots an inch.
    QSize Size() const { return size_; }
    // Draws the whole picture stretched to `target`; nothing is drawn outside it.
    void Draw(QPainter& painter, const QRectF& target) const;

    struct Header;  // what the player needs from the file's header
    const Header& Head() const { return *head_; }
    struct Bitmap {
        QImage image;
        bool bottomUp = true;  // rows stored bottom row first, as most device-independent bitmaps are
    };
    const Bitmap* BitmapOf(size_t recordOffset) const {
        auto it = bitmaps_.find(recordOffset);
        return it == bitmaps_.end() ? nullptr : &it->second;
    }
    const Bitmap* MaskOf(size_t recordOffset) const {
        auto it = masks_.find(recordOffset);
        return it == masks_.end() ? nullptr : &it->second;
    }
    const QByteArray& Bytes() const { return bytes_; }
    MetafileKind Kind() const { return kind_; }

private:
    Metafile() = default;
    QByteArray bytes_;
    MetafileKind kind_ = MetafileKind::Wmf;
    QSize size_;
    std::shared_ptr<Header> head_;
    std::map<size_t, Bitmap> bitmaps_;  // decoded bitmaps by the offset of their record
    std::map<size_t, Bitmap> masks_;    // the masks of masked blits, likewise
};

// Bytes in, pixels out: the metafile drawn on a transparent image of `size` (its own size,
// reduced to fit the budget, when empty). Failures raise EInvalidGraphic.
QImage RenderMetafile(const QByteArray& bytes, MetafileKind kind, QSize size = QSize(),
                      qint64 budget = kMetafileBitmapBudget);

}  // namespace platform
