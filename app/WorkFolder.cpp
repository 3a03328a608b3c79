#include "app/WorkFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "app/NameDisplay.h"

namespace platform {
namespace {

StartPlace g_startPlace = StartPlace::Here;

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return "/";
}

[[noreturn]] void RaiseFolderError(int err) {
    const int code = IoCodeFromErrno(err);
    throw EInOutError(code, "I/O エラー (" + std::to_string(code) + ")");
}

// mkdir -p with the folders private to the user, as the XDG base directories are.
void MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) RaiseFolderError(errno);
        if (slash == std::string::npos) break;
    }
}

}  // namespace

void SetStartPlace(StartPlace place) { g_startPlace = place; }
StartPlace CurrentStartPlace() { return g_startPlace; }

std::string MenuWorkFolder() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the other XDG programs do.
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base = data && data[0] == '/' ? std::string(data) : HomeFolder() + "/.local/share";
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return (base == "/" ? std::string() : base) + "/tessaly";
}

std::string SettleWorkFolder(RegistryStore& registry, StartPlace place) {
    auto enterMenuFolder = [] {
        const std::string folder = MenuWorkFolder();
        MakeFolders(folder);
        SetCurrentDir(folder);
    };
    const std::string value = registry.ReadString("Run", "_KDR_", "xx");
    if (value == "xx") {
        if (place == StartPlace::Menu) enterMenuFolder();
        return GetCurrentDir();
    }
    const std::string folder = AutostartFolder(value);
    try {
        SetCurrentDir(folder);
    } catch (const EInOutError& e) {
        // The registered folder has gone. The failure is still reported, but from the menu the
        // program then works in its data folder, not among the user's files in the home folder.
        if (place == StartPlace::Menu) {
            try {
                enterMenuFolder();
            } catch (const EInOutError&) {
            }
        }
        // The box names the folder (or, when the value names none, the value itself): the
        // user is told what to look for, since the exit asks no more once a value exists.
        const std::string named = folder.empty() ? value : folder;
        if (named.empty()) throw;
        throw EInOutError(e.Code(), std::string(e.what()) + "\r\n" + DisplayPath(named));
    }
    return GetCurrentDir();
}

}  // namespace platform
