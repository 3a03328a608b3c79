#include "platform/Libexec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>

#ifndef TESSALY_LIBEXEC_DIR
#define TESSALY_LIBEXEC_DIR "/usr/local/libexec/tessaly"
#endif
#ifndef TESSALY_LIBEXEC_FROM_BIN
#define TESSALY_LIBEXEC_FROM_BIN "../libexec/tessaly"
#endif

namespace platform {

namespace {

bool Usable(const std::string& path, bool executable) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (!executable || ::access(path.c_str(), X_OK) == 0);
}

}  // namespace

std::string LibexecFile(const std::string& name, bool executable) {
    if (QCoreApplication::instance()) {
        const std::string dir = QCoreApplication::applicationDirPath().toStdString();
        for (const std::string& candidate : {dir + "/" + name, dir + "/" + TESSALY_LIBEXEC_FROM_BIN + "/" + name})
            if (Usable(candidate, executable)) return candidate;
    }
    const std::string installed = std::string(TESSALY_LIBEXEC_DIR) + "/" + name;
    return Usable(installed, executable) ? installed : std::string();
}

}  // namespace platform
