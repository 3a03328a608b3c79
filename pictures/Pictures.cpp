#include "pictures/Pictures.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "app/NameDisplay.h"
#include "platform/Files.h"
#include "pictures/metafile/Metafile.h"

namespace platform {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw EInvalidGraphic(UnreadablePictureText(path, reason));
}

std::string UpperExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t sep = path.rfind('/');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return std::string();
    std::string ext = path.substr(dot);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

// The most memory the pixels of one decoded picture may take, as much as Qt's own image
// readers allow. The decoder's own buffers come on top, within kPictureBudgetBytes.
constexpr unsigned long long kMaxPictureBytes = 256ull * 1024 * 1024;
static_assert(kMaxPictureBytes < kPictureBudgetBytes);

// Picture kinds by the extension of the name.
enum class Kind { Jpeg, Bmp, Ico, Wmf, Emf };

Kind KindOf(const std::string& path) {
    const std::string ext = UpperExtension(path);
    if (ext == ".JPG") return Kind::Jpeg;
    if (ext == ".BMP") return Kind::Bmp;
    if (ext == ".ICO") return Kind::Ico;
    if (ext == ".WMF") return Kind::Wmf;
    if (ext == ".EMF") return Kind::Emf;
    Fail(path, "画像の種類が分かりません");
}

// Only a plain file is read: a FIFO would wait for a writer, a device such as /dev/zero
// would be read until memory ran out.
void CheckPlainFile(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) Fail(path, SystemErrorText(errno));
    if (!S_ISREG(st.st_mode)) Fail(path, "通常のファイルではありません");
}

class FileCloser {
public:
    explicit FileCloser(int fd) : fd_(fd) {}
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    ~FileCloser() { ::close(fd_); }
    int Get() const { return fd_; }

private:
    int fd_;
};

// Reads the whole file from its start, whatever the descriptor's offset (a helper that
// died over the same descriptor may have moved it). Read by the descriptor: a name that is
// not valid UTF-8 (an old Shift-JIS disc) never has to survive a round trip through QString.
QByteArray ReadAll(int fd, const std::string& path) {
    CheckPlainFile(fd, path);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > kMaxPictureBytes) Fail(path, "画像が大きすぎます");
    QByteArray bytes;
    char buffer[65536];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(path, SystemErrorText(errno));
        if (n == 0) break;
        // A file that grows while it is read stops at the budget too.
        if (static_cast<unsigned long long>(bytes.size()) + static_cast<unsigned long long>(n) > kMaxPictureBytes)
            Fail(path, "画像が大きすぎます");
        bytes.append(buffer, static_cast<qsizetype>(n));
        at += n;
    }
    return bytes;
}

// ---- JPEG ----

struct JpegErrors {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Progressive files are decoded scan by scan; a real one has about ten. Hundreds of tiny scans
// cost the whole image's work each, with nothing more to see.
constexpr int kMaxJpegScans = 100;
// Past this much processor time the decode ends: a picture that takes longer holds the user
// up for nothing. (Processor time, so that a busy machine does not refuse a good picture.)
constexpr std::int64_t kMaxJpegNanoseconds = 2'000'000'000;

struct JpegProgress {
    jpeg_progress_mgr pub;
    std::int64_t deadline;
    unsigned calls = 0;
};

std::int64_t CpuNanoseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void JpegFailWith(j_common_ptr cinfo, const char* text) {
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    std::snprintf(e->message, sizeof e->message, "%s", text);
    std::longjmp(e->jump, 1);
}

// Called by libjpeg between row groups and after each input scan.
void JpegProgressCheck(j_common_ptr cinfo) {
    auto* progress = reinterpret_cast<JpegProgress*>(cinfo->progress);
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) JpegFailWith(cinfo, "スキャンが多すぎます");
    // The clock is a system call: every 16th row group is often enough for a 2 s limit.
    if (progress->calls++ % 16 != 0) return;
    if (CpuNanoseconds() > progress->deadline) JpegFailWith(cinfo, "読み込みに時間がかかりすぎます");
}

void JpegErrorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

// Warnings that mean the picture lacks data (it would show grey or smeared) end the decode
// like errors; harmless ones (extra bytes between markers) are passed over.
void JpegMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC || code == JWRN_HUFF_BAD_CODE)
        JpegErrorExit(cinfo);
}

// Pixel conversion of one CMYK row into 0xffRRGGBB. Adobe's files store the inks inverted.
void CmykRow(const JSAMPLE* in, QRgb* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, in += 4) {
        int c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
    }
}

// Plain C-style decode: nothing with a destructor lives across the setjmp.
bool DecodeJpegFile(FILE* file, const PixelStore* store, int atLeastWidth, int atLeastHeight, bool* reduced, QImage** result,
                    char* message) {
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    JpegProgress progress{};
    progress.pub.progress_monitor = JpegProgressCheck;
    progress.deadline = CpuNanoseconds() + kMaxJpegNanoseconds;
    QImage* volatile image = nullptr;
    JSAMPLE* volatile cmykRow = nullptr;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JpegErrorExit;
    errors.pub.emit_message = JpegMessage;
    if (setjmp(errors.jump)) {
        std::memcpy(message, errors.message, JMSG_LENGTH_MAX);
        jpeg_destroy_decompress(&cinfo);
        delete image;
        delete[] cmykRow;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress.pub;
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // 24-bit colour, greyscale off; three bytes a pixel write a quarter less memory than a
    // padded layout, and the decode is bound by memory.
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    // A thumbnail needs no more pixels than it shows: libjpeg leaves out the finer
    // frequencies, and the costly part of the work with them.
    cinfo.scale_denom = JpegReduction(QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height)),
                                      QSize(atLeastWidth, atLeastHeight));
    *reduced = cinfo.scale_denom > 1;
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    cinfo.do_block_smoothing = FALSE;
    cinfo.buffered_image = FALSE;
    cinfo.quantize_colors = FALSE;
    // A picture too large to hold (a few kilobytes can claim 65500 x 65500) is decoded at
    // the largest reduction that fits; no screen shows more than that anyway.
    jpeg_calc_output_dimensions(&cinfo);
    while (static_cast<unsigned long long>(cinfo.output_width) * cinfo.output_height * 4 > kMaxPictureBytes) {
        if (cinfo.scale_denom >= 8) JpegFailWith(reinterpret_cast<j_common_ptr>(&cinfo), "画像が大きすぎます");
        cinfo.scale_denom *= 2;
        jpeg_calc_output_dimensions(&cinfo);
    }
    // libjpeg's own buffers share the budget with the pixels. A progressive file keeps the
    // coefficients of the whole image at full size (a few kilobytes can declare gigabytes);
    // past the rest of the budget libjpeg stops with its "backing store" error instead of
    // allocating.
    const unsigned long long pixels = static_cast<unsigned long long>(cinfo.output_width) * cinfo.output_height * 4;
    cinfo.mem->max_memory_to_use = static_cast<long>(kPictureBudgetBytes - pixels);
    if (jpeg_has_multiple_scans(&cinfo)) {
        unsigned long long coefficients = 0;
        for (int c = 0; c < cinfo.num_components; ++c) {
            const jpeg_component_info& comp = cinfo.comp_info[c];
            const unsigned long long blocksWide = (cinfo.image_width * static_cast<unsigned long long>(comp.h_samp_factor) +
                                                   8ull * cinfo.max_h_samp_factor - 1) / (8ull * cinfo.max_h_samp_factor);
            const unsigned long long blocksHigh = (cinfo.image_height * static_cast<unsigned long long>(comp.v_samp_factor) +
                                                   8ull * cinfo.max_v_samp_factor - 1) / (8ull * cinfo.max_v_samp_factor);
            coefficients += blocksWide * blocksHigh * sizeof(JBLOCK);
        }
        // Said before anything is allocated, in the words the user understands.
        if (coefficients > kPictureBudgetBytes - pixels) JpegFailWith(reinterpret_cast<j_common_ptr>(&cinfo), "画像が大きすぎます");
    }
    jpeg_start_decompress(&cinfo);
    {
        const int width = static_cast<int>(cinfo.output_width), height = static_cast<int>(cinfo.output_height);
        const QImage::Format format = cmyk ? QImage::Format_RGB32 : QImage::Format_RGB888;
        if (store && *store) {
            // Rows padded to 32 bits, as QImage lays them out itself.
            const qsizetype bytesPerLine = ((static_cast<qsizetype>(width) * (cmyk ? 4 : 3)) + 3) & ~qsizetype(3);
            uchar* memory = (*store)(width, height, format, bytesPerLine);
            image = memory ? new QImage(memory, width, height, bytesPerLine, format) : new QImage();
        } else {
            image = new QImage(width, height, format);
        }
    }
    if (image->isNull()) JpegFailWith(reinterpret_cast<j_common_ptr>(&cinfo), "out of memory");
    if (cmyk) cmykRow = new JSAMPLE[static_cast<size_t>(cinfo.output_width) * 4];
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        if (cmyk) {
            JSAMPROW row = cmykRow;
            jpeg_read_scanlines(&cinfo, &row, 1);
            CmykRow(cmykRow, reinterpret_cast<QRgb*>(image->scanLine(y)), cinfo.output_width, inverted);
        } else {
            JSAMPROW rows[8];
            int n = 0;
            for (; n < 8 && y + n < static_cast<int>(cinfo.output_height); ++n) rows[n] = image->scanLine(y + n);
            jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n));
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    delete[] cmykRow;
    *result = image;
    return true;
}

// ---- metafiles ----

Picture LoadMetafile(int fd, const std::string& path, bool enhanced) {
    QByteArray bytes = ReadAll(fd, path);
    try {
        return Picture::FromMetafile(Metafile::Read(bytes, enhanced ? MetafileKind::Emf : MetafileKind::Wmf));
    } catch (const EInvalidGraphic& e) {
        Fail(path, e.what());
    }
}

Picture LoadWithQt(int fd, const std::string& path, const char* format) {
    QByteArray bytes = ReadAll(fd, path);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, format);
    // Set here rather than trusted to the process-wide default, which any code may change.
    reader.setAllocationLimit(static_cast<int>(kMaxPictureBytes / (1024 * 1024)));
    QImage image;
    if (!reader.read(&image) || image.isNull())
        Fail(path, std::string(format[0] == 'b' ? "ビットマップ" : "アイコン") + "として読めません");
    return Picture::FromImage(std::move(image));
}

}  // namespace

std::string UnreadablePictureText(const std::string& path, const std::string& reason) {
    return "画像ファイルを読み込めません。\n" + DisplayPath(path) + "\n" + reason;
}

Picture Picture::FromImage(QImage image) {
    Picture p;
    p.image_ = std::move(image);
    return p;
}

Picture Picture::FromMetafile(std::shared_ptr<const Metafile> metafile) {
    Picture p;
    p.metafile_ = std::move(metafile);
    return p;
}

QSize Picture::Size() const { return metafile_ ? metafile_->Size() : image_.size(); }

void Picture::Draw(QPainter& painter, const QRect& target) const {
    if (metafile_) {
        metafile_->Draw(painter, QRectF(target));
    } else if (!image_.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(target, image_);
        painter.restore();
    }
}

QImage Picture::Scaled(QSize size) const {
    if (!metafile_) return image_.isNull() ? QImage() : image_.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    Draw(p, QRect(QPoint(0, 0), size));
    return out;
}

void CheckPictureKind(const std::string& path) { KindOf(path); }

int OpenPictureFile(const std::string& path) {
    // Looked at before it is opened: opening a device or a FIFO may have effects of its own.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) Fail(path, SystemErrorText(errno));
    if (!S_ISREG(st.st_mode)) Fail(path, "通常のファイルではありません");
    // Not blocking, in case the file was swapped for a FIFO in between; checked again below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) Fail(path, SystemErrorText(errno));
    try {
        CheckPlainFile(fd, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

unsigned JpegReduction(QSize image, QSize atLeast) {
    unsigned denominator = 1;
    if (atLeast.width() <= 0 || atLeast.height() <= 0) return denominator;
    // The reduced size rounded down: libjpeg rounds up, so what is chosen covers for sure.
    while (denominator < 8 && image.width() / static_cast<int>(denominator * 2) >= atLeast.width() &&
           image.height() / static_cast<int>(denominator * 2) >= atLeast.height())
        denominator *= 2;
    return denominator;
}

QImage DecodeJpeg(int fd, const std::string& path, const PixelStore& store, QSize atLeast, bool* reduced) {
    CheckPlainFile(fd, path);
    // A stream of its own over a copy of the descriptor, read from the file's start.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) Fail(path, SystemErrorText(errno));
    FILE* f = ::fdopen(own, "rb");
    if (!f) {
        const int err = errno;
        ::close(own);
        Fail(path, SystemErrorText(err));
    }
    if (std::fseek(f, 0, SEEK_SET) != 0) {
        const int err = errno;
        std::fclose(f);
        Fail(path, SystemErrorText(err));
    }
    QImage* image = nullptr;
    char message[JMSG_LENGTH_MAX] = {};
    bool smaller = false;
    const bool ok = DecodeJpegFile(f, &store, atLeast.width(), atLeast.height(), &smaller, &image, message);
    if (reduced) *reduced = ok && smaller;
    std::fclose(f);
    if (!ok) Fail(path, std::string("JPEG: ") + message);
    QImage out = std::move(*image);
    delete image;
    return out;
}

QImage DecodeJpeg(const std::string& path, const PixelStore& store, QSize atLeast, bool* reduced) {
    const FileCloser fd(OpenPictureFile(path));
    return DecodeJpeg(fd.Get(), path, store, atLeast, reduced);
}

Picture LoadPicture(int fd, const std::string& path) {
    switch (KindOf(path)) {
        case Kind::Jpeg: return Picture::FromImage(DecodeJpeg(fd, path));
        case Kind::Bmp: return LoadWithQt(fd, path, "bmp");
        case Kind::Ico: return LoadWithQt(fd, path, "ico");
        case Kind::Wmf: return LoadMetafile(fd, path, false);
        case Kind::Emf: return LoadMetafile(fd, path, true);
    }
    Fail(path, "画像の種類が分かりません");
}

Picture LoadPicture(const std::string& path) {
    KindOf(path);
    const FileCloser fd(OpenPictureFile(path));
    return LoadPicture(fd.Get(), path);
}

QImage PictureToPixels(const Picture& picture) {
    if (picture.IsNull()) return QImage();
    if (!picture.IsVector()) {
        const QImage& image = picture.Image();
        switch (image.format()) {
            case QImage::Format_RGB888:
            case QImage::Format_RGB32:
            case QImage::Format_ARGB32:
            case QImage::Format_ARGB32_Premultiplied: return image;
            default: return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        }
    }
    constexpr int kMinSide = 1024, kMaxSide = 4096;
    QSize size = picture.Size();
    if (size.width() <= 0 || size.height() <= 0) size = QSize(kMinSide, kMinSide);
    const int longer = std::max(size.width(), size.height());
    const int side = std::clamp(longer, kMinSide, kMaxSide);
    size = QSize(std::max(1, static_cast<int>(static_cast<long long>(size.width()) * side / longer)),
                 std::max(1, static_cast<int>(static_cast<long long>(size.height()) * side / longer)));
    return picture.Scaled(size);
}

QImage DecodePicturePixels(int fd, const std::string& path, const PixelStore& store, QSize atLeast, bool* reduced) {
    if (reduced) *reduced = false;
    // JPEG pixels go straight where they are wanted; no copy is made.
    if (KindOf(path) == Kind::Jpeg) return DecodeJpeg(fd, path, store, atLeast, reduced);
    const Picture picture = LoadPicture(fd, path);
    // A bitmap of few colours grows fourfold in the 32-bit layout.
    const QSize size = picture.Size();
    if (!picture.IsVector() && static_cast<unsigned long long>(size.width()) * static_cast<unsigned long long>(size.height()) * 4 > kMaxPictureBytes)
        Fail(path, "画像が大きすぎます");
    return PictureToPixels(picture);
}

QImage DecodePicturePixels(const std::string& path, const PixelStore& store, QSize atLeast, bool* reduced) {
    KindOf(path);
    const FileCloser fd(OpenPictureFile(path));
    return DecodePicturePixels(fd.Get(), path, store, atLeast, reduced);
}

}  // namespace platform
