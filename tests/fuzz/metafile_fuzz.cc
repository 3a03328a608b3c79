// Fuzzes the metafile player: header checks, record framing, every record's fields, the
// bitmaps inside and the text conversions. The first byte chooses WMF (even) or EMF (odd);
// the rest is the file. Any outcome but a drawn picture or EInvalidGraphic is a fault.
#include <QGuiApplication>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "pictures/metafile/Metafile.h"
#include "pictures/Pictures.h"

// The application lives to the end of the run; fontconfig keeps its caches until then.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QGuiApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "metafile_fuzz";
        static char* argv[] = {name, nullptr};
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
    if (size < 1) return 0;
    const auto kind = data[0] & 1 ? platform::MetafileKind::Emf : platform::MetafileKind::Wmf;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    try {
        // A small picture and a small budget keep each run quick; the limits are the same code.
        const QImage image = platform::RenderMetafile(bytes, kind, QSize(64, 48), 16 << 20);
        if (image.size() != QSize(64, 48)) __builtin_trap();
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}
