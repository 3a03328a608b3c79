#include "pictures/metafile/MetafileBitmaps.h"

#include <QBuffer>
#include <QImageReader>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::metafile {

namespace {

// What a decoded bitmap keeps beside its colours: nothing, the fourth byte of 32-bit pixels
// (blended bitmaps), or the bits of a monochrome one (masks).
enum class Keep { Colours, Alpha, Bits };

// A device-independent bitmap (header, colours, pixels) decoded by Qt's BMP reader, which
// checks its own reads. The pixels it would take are charged to `left` first.
std::optional<Metafile::Bitmap> DecodeDib(const unsigned char* info, size_t infoLength, const unsigned char* bits,
                                          size_t bitsLength, qint64& left, MetafileKind kind, Keep keep = Keep::Colours) {
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
    if (keep == Keep::Bits && bitCount == 1 && compression == 0) {
        // A mask is read by its bits, whatever colours its palette gives them.
        const size_t stride = static_cast<size_t>((width + 31) / 32 * 4);
        if (bitsLength / stride < static_cast<size_t>(height)) return std::nullopt;
        image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_Mono);
        if (image.isNull()) return std::nullopt;
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        const size_t used = static_cast<size_t>((width + 7) / 8);
        for (int64_t y = 0; y < height; ++y)
            std::memcpy(image.scanLine(static_cast<int>(y)), bits + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride, used);
    } else if (keep == Keep::Alpha && bitCount == 32 && compression == 0) {
        // Blended bitmaps keep their fourth byte as it is: alpha, or nothing, as the blend says.
        const size_t stride = static_cast<size_t>(width) * 4;
        if (bitsLength / stride < static_cast<size_t>(height)) return std::nullopt;
        image = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
        if (image.isNull()) return std::nullopt;
        for (int64_t y = 0; y < height; ++y)
            std::memcpy(image.scanLine(static_cast<int>(y)), bits + static_cast<size_t>(bottomUp ? height - 1 - y : y) * stride, stride);
    } else if (compression == 4 || compression == 5) {  // the pixels are a whole JPEG or PNG
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

// A bitmap given by the offsets and lengths of its header and pixels at `at`.
std::optional<Metafile::Bitmap> EmfDib(const Rec& r, size_t at, qint64& left, Keep keep) {
    const uint32_t offInfo = r.U32(at), infoLength = r.U32(at + 4), offBits = r.U32(at + 8), bitsLength = r.U32(at + 12);
    if (infoLength == 0 || !r.Has(offInfo, infoLength) || !r.Has(offBits, bitsLength)) return std::nullopt;
    return DecodeDib(r.p + offInfo, infoLength, r.p + offBits, bitsLength, left, MetafileKind::Emf, keep);
}

}  // namespace

std::optional<Metafile::Bitmap> MaskOfRecord(const Rec& r, qint64& left) {
    if (r.type == 78) return EmfDib(r, 112, left, Keep::Bits);
    if (r.type == 79) return EmfDib(r, 124, left, Keep::Bits);
    return std::nullopt;
}

// Where a record's bitmap lies: EMF records give offsets of the header and the pixels; a
// WMF record holds one packed bitmap from a fixed place to its end.
std::optional<Metafile::Bitmap> BitmapOfRecord(const Rec& r, MetafileKind kind, qint64& left) {
    if (kind == MetafileKind::Emf) {
        size_t at;
        switch (r.type) {
        case 76: case 77: case 78: case 114: case 116: at = 84; break;  // the blits, blended and transparent
        case 79: at = 96; break;            // PlgBlt
        case 80: case 81: at = 48; break;   // SetDIBitsToDevice, StretchDIBits
        case 93: case 94: at = 16; break;   // mono and DIB pattern brushes
        default: return std::nullopt;
        }
        return EmfDib(r, at, left, r.type == 114 ? Keep::Alpha : Keep::Colours);
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

}  // namespace platform::metafile
