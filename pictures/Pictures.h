#pragma once
// Pictures by file extension: bitmaps and icons through Qt, JPEG through libjpeg, Windows
// and enhanced metafiles played record by record onto a QPainter.
#include <QByteArray>
#include <QImage>
#include <QRect>
#include <functional>
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

// The memory one picture may take while it is decoded: its pixels and the decoder's own
// buffers. Past it a picture is shown reduced or refused.
constexpr unsigned long long kPictureBudgetBytes = 512ull * 1024 * 1024;

// The text of the unreadable-picture box: the file and why it could not be shown.
std::string UnreadablePictureText(const std::string& path, const std::string& reason);

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
// The same from a file opened by OpenPictureFile, read from its start; `path` gives the kind
// and names the file in errors.
Picture LoadPicture(int fd, const std::string& path);

// Raises EInvalidGraphic unless the name's extension is a picture kind LoadPicture reads.
void CheckPictureKind(const std::string& path);
// Opens a plain file for reading, close-on-exec, as the loaders read it; anything else (a
// FIFO, a device, a missing file) raises EInvalidGraphic with the unreadable-picture text.
// The caller closes the descriptor.
int OpenPictureFile(const std::string& path);

// Where decoded pixels may go: memory for `height` rows of `bytesPerLine` bytes that
// outlives the returned image, or null when there is none.
using PixelStore = std::function<uchar*(int width, int height, QImage::Format format, qsizetype bytesPerLine)>;

// libjpeg decompression with 24-bit colour, full scale, colour output, best-quality DCT,
// no progressive display and no smoothing. CMYK files are converted. Damaged or truncated
// data raises EInvalidGraphic instead of showing a half-grey picture.
// With a store, the pixels are decoded into its memory.
// With `atLeast`, for a thumbnail: a file at least twice as large on both sides is decoded
// at the largest reduction (1/2, 1/4 or 1/8) that still covers it, which costs a fraction
// of the whole picture; `reduced` then tells whether it was.
// The reduction (1, 2, 4 or 8: the picture's sides divided by it) at which a JPEG of `image`
// pixels is decoded for a box of `atLeast` pixels: the largest that still covers the box on
// both sides. 1 without a box.
unsigned JpegReduction(QSize image, QSize atLeast);

QImage DecodeJpeg(const std::string& path, const PixelStore& store = nullptr, QSize atLeast = QSize(), bool* reduced = nullptr);
QImage DecodeJpeg(int fd, const std::string& path, const PixelStore& store = nullptr, QSize atLeast = QSize(), bool* reduced = nullptr);

// A picture as plain pixels, as the picture helper hands it over: bitmaps keep their pixels
// (in a 24- or 32-bit layout), a metafile is drawn at its own proportions, enlarged to at
// least 1024 pixels on its longer side (the viewer stretches it to its window) and at most
// 4096.
QImage PictureToPixels(const Picture& picture);

// LoadPicture, then PictureToPixels: what the picture helper does with each file.
// JPEG pixels go into the store's memory when one is given, reduced as DecodeJpeg reduces
// them for `atLeast`; the other kinds come whole.
QImage DecodePicturePixels(const std::string& path, const PixelStore& store = nullptr, QSize atLeast = QSize(),
                           bool* reduced = nullptr);
// The same from a file opened by OpenPictureFile (the picture helper gets the descriptor).
QImage DecodePicturePixels(int fd, const std::string& path, const PixelStore& store = nullptr, QSize atLeast = QSize(),
                           bool* reduced = nullptr);

}  // namespace platform
