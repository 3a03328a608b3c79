#pragma once
// Pictures by file extension: bitmaps and icons through Qt, JPEG through libjpeg, Windows
// and enhanced metafiles played record by record onto a QPainter.
#include <QByteArray>
#include <QImage>
#include <QRect>
#include <memory>
#include <string>

#include "platform/Exceptions.h"

class QPainter;

// A file that cannot be read as the picture type its extension names.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

namespace platform {

class Metafile;

// A loaded picture: pixels, or a metafile that is drawn afresh at any size. Copies share
// the decoded data.
class Picture {
public:
    Picture() = default;
    static Picture FromImage(QImage image);
    static Picture FromMetafile(std::shared_ptr<const Metafile> metafile);

    bool IsNull() const { return image_.isNull() && !metafile_; }
    bool IsVector() const { return metafile_ != nullptr; }
    QSize Size() const;
    const QImage& Image() const { return image_; }
    // Draws the picture stretched to `target`, proportions not kept. Pixels are sampled
    // without smoothing, so a large picture costs only what the target shows.
    void Draw(QPainter& painter, const QRect& target) const;
    // A copy stretched to `size`.
    QImage Scaled(QSize size) const;

private:
    QImage image_;
    std::shared_ptr<const Metafile> metafile_;
};

// Loads a picture by its extension (".BMP", ".ICO", ".JPG", ".WMF", ".EMF", any case).
// Failures raise EInvalidGraphic with a text for the user.
Picture LoadPicture(const std::string& path);

// libjpeg decompression with 24-bit colour, full scale, colour output, best-quality DCT,
// no progressive display and no smoothing. CMYK files are converted. Damaged or truncated
// data raises EInvalidGraphic instead of showing a half-grey picture.
QImage DecodeJpeg(const std::string& path);

}  // namespace platform
