#pragma once
// The fixed disks to search, and the reading of one folder for the searches.
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class EntryType { File, Folder };

// Called once per entry of a folder that a search may see.
using FolderEntryFn = std::function<void(std::string_view name, EntryType type)>;

class Drives {
public:
    virtual ~Drives() = default;
    // Root folders of the fixed disks in search order, each ending with the separator.
    virtual std::vector<std::string> FixedDrives() = 0;
    // Lists the plain files and folders of `folder` (ending with the separator): no names
    // starting with ".", no symbolic links, no other kinds of file, and no folder on which
    // another file system is mounted. False when the folder cannot be read.
    virtual bool ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) = 0;
};

// The entries of `folder` by the rules of Drives::ReadFolder. Names are bytes, passed on
// as the file system has them. `mountPoints` (paths ending with the separator) are left
// out when given.
bool ReadFolderEntries(const std::string& folder, const std::set<std::string>* mountPoints,
                       const FolderEntryFn& onEntry);

// The machine's drives: mount points of local, non-removable block-device file systems,
// root first, then by mount point; or the folders of TESSALY_DRIVES when that is set
// (relative ones taken from the current folder, each folder once).
class LinuxDrives : public Drives {
public:
    std::vector<std::string> FixedDrives() override;
    bool ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) override;

private:
    void LoadMounts();
    bool loaded_ = false;
    // Every mount point, and the folders that hold one, so that a walk can skip them
    // without a look-up for each subfolder.
    std::set<std::string> mountPoints_;
    std::set<std::string> mountParents_;
    std::vector<std::string> fixed_;
};

// Parses mountinfo text into the mount points of fixed disks (without TESSALY_DRIVES),
// root first, then by mount point. `blockInfo(major, minor)` tells whether that block
// device counts as a fixed disk. Every mount point of any kind goes to `allMounts`.
std::vector<std::string> FixedMountPoints(const std::string& mountinfo,
                                          const std::function<bool(unsigned, unsigned)>& isFixedDevice,
                                          std::set<std::string>* allMounts);

// Test stand-in: the listed folders are the drives, and folders are read from the real
// file system, except those in `unreadable`, which fail as an access error would.
class FakeDrives : public Drives {
public:
    std::vector<std::string> FixedDrives() override { return roots; }
    bool ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) override {
        ++reads;
        if (unreadable.count(folder)) return false;
        return ReadFolderEntries(folder, &mountPoints, onEntry);
    }
    std::vector<std::string> roots;
    std::set<std::string> unreadable;
    std::set<std::string> mountPoints;
    int reads = 0;
};

}  // namespace platform
