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
    // starting with ".", no symbolic links, no other kinds of file, no folder on which
    // another file system is mounted, and no system entries (the operating system's trees
    // at the top of the root file system, a disk's own folders at its top). False when the
    // folder cannot be read.
    virtual bool ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) = 0;
};

// Whether `name`, at the top of the root file system, is one of the operating system's own
// trees: programs, libraries and machine state (bin, boot, dev, efi, etc, gnu, lib, lib32,
// lib64, libx32, lost+found, nix, opt, proc, run, sbin, snap, sys, tmp, usr, var). These
// count as system entries: a search neither lists nor enters them. Home folders, /root,
// /srv, /mnt, /media and every other name are the user's.
bool IsSystemTree(std::string_view name);

// Whether `name`, at the top of a disk, is the file system's own folder (lost+found) or a
// Windows disk's system folder ("System Volume Information", "$RECYCLE.BIN").
bool IsDiskSystemFolder(std::string_view name);

// Where a folder stands, for the system entries it holds.
struct FolderPlace {
    bool rootFileSystemTop = false;  // the top folder of the root file system
    bool diskTop = false;            // the top folder of a disk
};

// The entries of `folder` by the rules of Drives::ReadFolder. Names are bytes, passed on
// as the file system has them. `mountPoints` (paths ending with the separator) are left
// out when given, and so are the system entries of `place`.
bool ReadFolderEntries(const std::string& folder, const std::set<std::string>* mountPoints,
                       const FolderEntryFn& onEntry, FolderPlace place = {});

// The machine's drives: mount points of local, non-removable block-device file systems,
// root first, then by mount point, none inside a system tree; or the folders of
// TESSALY_DRIVES when that is set (relative ones taken from the current folder, each
// folder once). Any drive that is the root file system's top folder gets its rules.
class LinuxDrives : public Drives {
public:
    std::vector<std::string> FixedDrives() override;
    bool ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) override;

private:
    void LoadMounts();
    bool IsRootFileSystemTop(const std::string& folder);
    bool loaded_ = false;
    // The drives of the last FixedDrives() that are the root file system's top folder.
    std::set<std::string> rootTops_;
    // Every mount point, and the folders that hold one, so that a walk can skip them
    // without a look-up for each subfolder.
    std::set<std::string> mountPoints_;
    std::set<std::string> mountParents_;
    std::vector<std::string> fixed_;
};

// Parses mountinfo text into the mount points of fixed disks (without TESSALY_DRIVES),
// root first, then by mount point; a disk mounted inside a system tree (/boot/efi, /var)
// belongs to the operating system and is left out. `blockInfo(major, minor)` tells whether that block
// device counts as a fixed disk. Every mount point of any kind goes to `allMounts`.
std::vector<std::string> FixedMountPoints(const std::string& mountinfo,
                                          const std::function<bool(unsigned, unsigned)>& isFixedDevice,
                                          std::set<std::string>* allMounts);

}  // namespace platform
