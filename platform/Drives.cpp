#include "platform/Drives.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/Files.h"
#include "platform/ReadAhead.h"

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

bool SameFolder(const std::string& a, const char* b) {
    struct stat sa{}, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The first folder name of an absolute path ("var" for "/var/lib/").
std::string_view TopName(std::string_view path) {
    path.remove_prefix(std::min<size_t>(1, path.size()));
    return path.substr(0, path.find('/'));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// File systems of local disks that set a folder's change time on every change of its
// entries or its permissions. Network, FUSE, overlay and FAT-like file systems may not
// (or keep times too coarse), so their folders are always read at their turn.
bool TimesTell(const struct statfs& fs) {
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case F2FS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case 0xca451a4eUL:  // bcachefs
            return true;
        default:
            return false;
    }
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

long long Nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; }

void Stamp(int fd, FolderStamp* stamp) {
    *stamp = FolderStamp{};
    ::clock_gettime(CLOCK_REALTIME, &stamp->takenAt);
    struct stat st{};
    if (::fstat(fd, &st) != 0) return;  // timesTell stays false
    // A walk stays on one file system: ask for its kind when the device changes.
    thread_local dev_t lastDev = 0;
    thread_local bool lastTell = false;
    if (st.st_dev != lastDev || lastDev == 0) {
        struct statfs fs{};
        if (::fstatfs(fd, &fs) != 0) return;
        lastDev = st.st_dev;
        lastTell = TimesTell(fs);
    }
    stamp->dev = st.st_dev;
    stamp->ino = st.st_ino;
    stamp->mode = st.st_mode;
    stamp->links = st.st_nlink;
    stamp->ctime = st.st_ctim;
    stamp->mtime = st.st_mtim;
    stamp->timesTell = lastTell;
}

// A plain read of a folder's entries in the file system's order, without the rules.
class InTurnLevel : public LevelReader {
public:
    InTurnLevel(Drives& drives, const PathList& folders) : drives_(drives), folders_(folders) {}
    bool Read(int index, const FolderEntryFn& onEntry) override {
        path_.assign(folders_.At(index));
        return drives_.ReadFolder(path_, onEntry);
    }

private:
    Drives& drives_;
    const PathList& folders_;
    std::string path_;
};

}  // namespace

std::unique_ptr<LevelReader> Drives::ReadLevel(const PathList& folders) {
    return std::make_unique<InTurnLevel>(*this, folders);
}

bool StillAsStamped(const std::string& folder, const FolderStamp& stamp, std::chrono::nanoseconds settled) {
    if (!stamp.timesTell) return false;
    // Changed too shortly before the stamp: a change right after it may have been given
    // the same time by a clock that moves in ticks.
    if (Nanoseconds(stamp.ctime) + settled.count() > Nanoseconds(stamp.takenAt)) return false;
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0) return false;
    // Removed, replaced by another folder or file, mounted over, its permissions or its
    // entries changed: any of these moves one of these.
    return st.st_dev == stamp.dev && st.st_ino == stamp.ino && st.st_mode == stamp.mode &&
           st.st_nlink == stamp.links && SameTime(st.st_ctim, stamp.ctime) && SameTime(st.st_mtim, stamp.mtime);
}

bool IsSystemTree(std::string_view name) {
    // The file-system hierarchy's trees for programs, libraries and machine state, the
    // kernel's views, fsck's folder, and the package stores of snap, Nix and Guix.
    static constexpr std::string_view kTrees[] = {"bin",  "boot", "dev",  "efi",  "etc", "gnu", "lib",
                                                  "lost+found", "nix", "opt", "proc", "run", "sbin",
                                                  "snap", "sys",  "tmp",  "usr",  "var"};
    for (std::string_view t : kTrees)
        if (name == t) return true;
    // lib<qualifier>: lib32, lib64, libx32.
    if (name.size() > 3 && name.substr(0, 3) == "lib") {
        std::string_view q = name.substr(3);
        if (q[0] == 'x') q.remove_prefix(1);
        return !q.empty() && q.find_first_not_of("0123456789") == std::string_view::npos;
    }
    return false;
}

bool IsDiskSystemFolder(std::string_view name) {
    return name == "lost+found" || EqualsIgnoringCase(name, "System Volume Information") ||
           EqualsIgnoringCase(name, "$RECYCLE.BIN");
}

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
        // A disk inside the operating system's trees (/boot/efi, /var) holds its files.
        if (point != "/" && IsSystemTree(TopName(point))) continue;
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
                       const FolderEntryFn& onEntry, FolderPlace place, FolderStamp* stamp) {
    // The entries straight from the kernel: a folder stream would add a status call and a
    // buffer allocation per folder, which a warm walk of tens of thousands of folders feels.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Closed also when an entry's handler throws (out of memory on a helper).
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (stamp) Stamp(fd, stamp);
    const bool checkMounts = mountPoints && !mountPoints->empty();
    std::string full;
    alignas(dirent64) char buf[32768];
    // A read error ends the listing with what came before it, as a folder stream does.
    for (long got; (got = ::syscall(SYS_getdents64, fd, buf, sizeof buf)) > 0;) {
        for (long at = 0; at < got;) {
            const auto* e = reinterpret_cast<const dirent64*>(buf + at);
            at += e->d_reclen;
            if (e->d_ino == 0) continue;  // a deleted entry, which folder streams skip too
            const char* name = e->d_name;
            if (name[0] == '.') continue;  // hidden, and "." and ".."
            if (place.rootFileSystemTop && IsSystemTree(name)) continue;
            if (place.diskTop && IsDiskSystemFolder(name)) continue;
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
    }
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
    } else {
        roots = fixed_;
    }
    // A listed folder may be the root file system's top under another name ("/mnt/..",
    // a bind mount of "/"); the system trees are left out there all the same.
    rootTops_.clear();
    for (const std::string& r : roots)
        if (SameFolder(r, "/")) rootTops_.insert(r);
    return roots;
}

bool LinuxDrives::IsRootFileSystemTop(const std::string& folder) const {
    return folder == "/" || rootTops_.count(folder) > 0;
}

bool LinuxDrives::ReadPlaced(const std::string& folder, const FolderEntryFn& onEntry, FolderStamp* stamp) const {
    FolderPlace place;
    place.rootFileSystemTop = IsRootFileSystemTop(folder);
    place.diskTop = place.rootFileSystemTop || mountPoints_.count(folder) > 0;
    return ReadFolderEntries(folder, mountParents_.count(folder) ? &mountPoints_ : nullptr, onEntry, place, stamp);
}

bool LinuxDrives::ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) {
    if (!loaded_) LoadMounts();
    return ReadPlaced(folder, onEntry, nullptr);
}

std::unique_ptr<LevelReader> LinuxDrives::ReadLevel(const PathList& folders) {
    if (readAhead_.threads <= 0 || folders.Count() < 2) return Drives::ReadLevel(folders);
    // The helpers only read the mount tables, which stay as they are during the level.
    if (!loaded_) LoadMounts();
    return std::make_unique<ReadAheadLevel>(
        folders, readAhead_,
        [this](const std::string& f, const FolderEntryFn& fn, FolderStamp* s) { return ReadPlaced(f, fn, s); },
        [this](const std::string& f, const FolderEntryFn& fn) { return ReadFolder(f, fn); }, counts_);
}

}  // namespace platform
