// Fuzzes the picture loader with each kind it reads: the first byte picks the kind (BMP,
// ICO, JPEG, WMF, EMF), the rest is the file. It runs what the picture helper runs for each
// file, decoders and all, in this process, and locked in as the helper is (see LockIn.h)
// when it replays files. Any outcome but pixels within the budget or the loader's
// EInvalidGraphic is a fault.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Fonts.h"
#include "pictures/LockIn.h"
#include "pictures/Pictures.h"

// fontconfig keeps what it finds of a face to the end of the run; faces first asked by one
// input (a metafile naming Wingdings) are not that input's leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

// The input as the helper gets a file: an open descriptor, here of a memory file.
int input = -1;

// A replay names only files; fuzzing names folders that new inputs are written into, and
// some modes start processes. Only a replay can run locked in.
bool ReplaysFiles(int argc, char** argv) {
    bool any = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (a[0] == '-') {
            for (const char* mode : {"-fork=", "-jobs=", "-workers=", "-merge=", "-minimize_crash=", "-cleanse_crash="})
                if (std::strncmp(a, mode, std::strlen(mode)) == 0) return false;
            continue;
        }
        struct stat st {};
        if (::stat(a, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        any = true;
    }
    return any;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QGuiApplication app(*argc, *argv);
    platform::InstallFontSubstitutes();
    // Also fills fontconfig's caches once, so that they are not taken for leaks of the first
    // input that draws text.
    platform::PrepareDecodersForLockIn();
    input = ::memfd_create("picture-fuzz", MFD_CLOEXEC);
    if (input < 0) std::abort();
    if (!ReplaysFiles(*argc, *argv)) {
        std::fprintf(stderr, "picture_fuzz: not a replay of files, so not locked in as the picture helper is\n");
        return 0;
    }
    platform::LockInRules rules{platform::PictureReadableFolders()};
    for (int i = 1; i < *argc; ++i)
        if ((*argv)[i][0] != '-') rules.readable.emplace_back((*argv)[i]);
    const platform::LockInReport report = platform::LockIn(rules);
    if (!report.missing.empty()) std::fprintf(stderr, "picture_fuzz: %s\n", report.missing.c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const char* const kinds[] = {"bmp", "ico", "jpg", "wmf", "emf"};
    const std::string name = std::string("input.") + kinds[data[0] % 5];
    if (::ftruncate(input, 0) != 0) std::abort();
    if (size > 1 && ::pwrite(input, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1)) std::abort();
    try {
        const QImage image = platform::DecodePicturePixels(input, name);
        if (static_cast<unsigned long long>(image.sizeInBytes()) > platform::kPictureBudgetBytes) __builtin_trap();
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}
