// Fuzzes the picture loader with each kind it reads: the first byte picks the kind (BMP,
// ICO, JPEG, WMF, EMF), the rest is the file. It runs what the picture helper runs for each
// file, decoders and all, in this process. Any outcome but pixels within the budget or the
// loader's EInvalidGraphic is a fault.
#include <unistd.h>

#include <QGuiApplication>
#include <QPainter>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Fonts.h"
#include "platform/Pictures.h"

// fontconfig keeps what it finds of a face to the end of the run; faces first asked by one
// input (a metafile naming Wingdings) are not that input's leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

std::string folder;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(*argc, *argv);
    platform::InstallFontSubstitutes();
    // Font look-ups fill fontconfig's caches once; done here, they are not taken for leaks of
    // the first input that draws text.
    QImage warm(64, 32, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&warm);
    for (const QFont& font : {QFont(), platform::DesignFont(platform::kFontPGothic, 12), platform::DesignFont(platform::kFontMincho, 12),
                              QFont(QStringLiteral("Times")), QFont(QStringLiteral("Helvetica"))}) {
        painter.setFont(font);
        painter.drawText(0, 20, QStringLiteral("Aa画像"));
    }
    painter.end();
    std::string pattern = (std::filesystem::temp_directory_path() / "picture-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    folder = pattern;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const char* const kinds[] = {"bmp", "ico", "jpg", "wmf", "emf"};
    const std::string path = folder + "/input." + kinds[data[0] % 5];
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, f) != size - 1) std::abort();
    std::fclose(f);
    try {
        const QImage image = platform::DecodePicturePixels(path);
        if (static_cast<unsigned long long>(image.sizeInBytes()) > platform::kPictureBudgetBytes) __builtin_trap();
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}
