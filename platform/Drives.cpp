#include "platform/Drives.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Files.h"

namespace platform {

namespace {

// mountinfo writes blanks, tabs, line breaks and backslashes in paths as octal escapes.
std::string Unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3') {
            out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string WithSeparator(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path);
    std::string s;
    std::getline(in, s);
    return s;
}

// A block device counts as a fixed disk unless it is removable, optical, a loop image or
// a RAM disk. Partitions take the removable flag of their disk.
bool IsFixedBlockDevice(unsigned major, unsigned minor) {
    std::string link = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    char real[PATH_MAX];
    if (!::realpath(link.c_str(), real)) return false;
    std::string dev = real;
    std::string name = dev.substr(dev.rfind('/') + 1);
    for (const char* prefix : {"loop", "ram", "zram", "sr", "fd"})
        if (name.rfind(prefix, 0) == 0) return false;
    std::string disk = dev;
    if (::access((dev + "/partition").c_str(), F_OK) == 0) disk = dev.substr(0, dev.rfind('/'));
    return ReadSmallFile(disk + "/removable") != "1";
}

}  // namespace

std::vector<std::string> FixedMountPoints(const std::string& mountinfo,
                                          const std::function<bool(unsigned, unsigned)>& isFixedDevice,
                                          std::set<std::string>* allMounts) {
    struct Mount {
        std::string point;
        unsigned major, minor;
    };
    std::vector<Mount> fixed;
    std::istringstream lines(mountinfo);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::vector<std::string> fields;
        for (std::string w; f >> w;) fields.push_back(w);
        auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 7 || dash == fields.end() || dash + 2 >= fields.end()) continue;
        std::string point = WithSeparator(Unescape(fields[4]));
        if (allMounts) allMounts->insert(point);
        unsigned major = 0, minor = 0;
        if (std::sscanf(fields[2].c_str(), "%u:%u", &major, &minor) != 2) continue;
        const std::string& fstype = *(dash + 1);
        const std::string& source = *(dash + 2);
        // A file system on an anonymous device (btrfs) names its block device as source.
        if (major == 0 && source.rfind("/dev/", 0) == 0) {
            struct stat st{};
            if (::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
                major = ::major(st.st_rdev);
                minor = ::minor(st.st_rdev);
            }
        }
        if (major == 0) continue;  // proc, sysfs, tmpfs, network and other pseudo file systems
        if (fstype == "iso9660" || fstype == "udf" || fstype == "squashfs") continue;
        // A bind mount of a sub-folder shows files that the device's own mount shows too.
        if (fields[3] != "/") continue;
        if (!isFixedDevice(major, minor)) continue;
        fixed.push_back({point, major, minor});
    }
    // Root first, then by mount point; one mount point per device, so nothing is listed twice.
    std::sort(fixed.begin(), fixed.end(), [](const Mount& a, const Mount& b) {
        if ((a.point == "/") != (b.point == "/")) return a.point == "/";
        return a.point < b.point;
    });
    std::vector<std::string> out;
    std::set<std::pair<unsigned, unsigned>> seen;
    for (const Mount& m : fixed)
        if (seen.insert({m.major, m.minor}).second) out.push_back(m.point);
    return out;
}

bool ReadFolderEntries(const std::string& folder, const std::set<std::string>* mountPoints,
                       const FolderEntryFn& onEntry) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return false;
    const int fd = ::dirfd(d);
    const bool checkMounts = mountPoints && !mountPoints->empty();
    std::string full;
    while (dirent* e = ::readdir(d)) {
        const char* name = e->d_name;
        if (name[0] == '.') continue;  // hidden, and "." and ".."
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            // Some file systems do not report the type while listing.
            struct stat st{};
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
        }
        std::string_view n(name);
        if (type == DT_REG) {
            onEntry(n, EntryType::File);
        } else if (type == DT_DIR) {
            if (checkMounts) {
                full.assign(folder).append(n).push_back('/');
                if (mountPoints->count(full)) continue;
            }
            onEntry(n, EntryType::Folder);
        }
    }
    ::closedir(d);
    return true;
}

void LinuxDrives::LoadMounts() {
    std::ifstream in("/proc/self/mountinfo");
    std::stringstream ss;
    ss << in.rdbuf();
    mountPoints_.clear();
    mountParents_.clear();
    fixed_ = FixedMountPoints(ss.str(), IsFixedBlockDevice, &mountPoints_);
    loaded_ = true;
    for (const std::string& m : mountPoints_) {
        if (m == "/") continue;
        std::string parent = m.substr(0, m.rfind('/', m.size() - 2) + 1);
        mountParents_.insert(parent);
    }
}

std::vector<std::string> LinuxDrives::FixedDrives() {
    // Read afresh for each search: disks come and go while the program runs.
    LoadMounts();
    std::vector<std::string> roots;
    if (const char* env = std::getenv("TESSALY_DRIVES")) {
        std::string list = env;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) {
                // Entries are full paths, and one folder named twice would list each of
                // its files twice.
                std::string root = list.substr(start, end - start);
                if (root[0] != '/') root = GetCurrentDir() + "/" + root;
                root.erase(std::unique(root.begin(), root.end(), [](char a, char b) { return a == '/' && b == '/'; }),
                           root.end());
                root = WithSeparator(root);
                if (std::find(roots.begin(), roots.end(), root) == roots.end()) roots.push_back(root);
            }
            start = end + 1;
        }
        return roots;
    }
    return fixed_;
}

bool LinuxDrives::ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) {
    if (!loaded_) LoadMounts();
    return ReadFolderEntries(folder, mountParents_.count(folder) ? &mountPoints_ : nullptr, onEntry);
}

}  // namespace platform
