#pragma once
// The fixed disks to search, and the reading of one folder for the searches.
#include <sys/types.h>

#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PathList.h"
#include "platform/ReadAheadOptions.h"

namespace platform {

enum class EntryType { File, Folder };

// Called once per entry of a folder that a search may see.
using FolderEntryFn = std::function<void(std::string_view name, EntryType type)>;

// Reads the folders of one walk level. Read(i) is called for i = 0, 1, 2, ... in order and
// gives what Drives::ReadFolder of folder i would give at that moment; a reader may have
// fetched the folder before its turn, but never hands over what the folder no longer holds.
class LevelReader {
public:
    virtual ~LevelReader() = default;
    virtual bool Read(int index, const FolderEntryFn& onEntry) = 0;
};

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
    // A reader of `folders`, which stay unchanged while it lives. This one reads each
    // folder at its turn.
    virtual std::unique_ptr<LevelReader> ReadLevel(const PathList& folders);
};

// What a folder was when it was read, to tell at its turn whether it still is.
struct FolderStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    mode_t mode = 0;
    nlink_t links = 0;
    timespec ctime{}, mtime{};
    // The clock (CLOCK_REALTIME) just before the stamp was taken.
    timespec takenAt{};
    // On a file system whose folder times change with every change of a folder's entries.
    bool timesTell = false;
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
// With `stamp`, the open folder is stamped before its entries are read.
bool ReadFolderEntries(const std::string& folder, const std::set<std::string>* mountPoints,
                       const FolderEntryFn& onEntry, FolderPlace place = {}, FolderStamp* stamp = nullptr);

// Whether `folder` is still what `stamp` saw: the same folder under that path, unchanged
// since, and stamped long enough after its last change that a later change would have
// moved its times (`settled`).
bool StillAsStamped(const std::string& folder, const FolderStamp& stamp, std::chrono::nanoseconds settled);

// The machine's drives: mount points of local, non-removable block-device file systems,
// root first, then by mount point, none inside a system tree; or the folders of
// TESSALY_DRIVES when that is set (relative ones taken from the current folder, each
// folder once). Any drive that is the root file system's top folder gets its rules.
class LinuxDrives : public Drives {
public:
    std::vector<std::string> FixedDrives() override;
    bool ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) override;
    // Reads ahead of the walk with helper threads, as `SetReadAhead` says.
    std::unique_ptr<LevelReader> ReadLevel(const PathList& folders) override;
    void SetReadAhead(ReadAheadOptions options) { readAhead_ = std::move(options); }
    // What the read-ahead of the walks so far did.
    const ReadAheadCounts& ReadAheadDone() const { return counts_; }

private:
    void LoadMounts();
    bool ReadPlaced(const std::string& folder, const FolderEntryFn& onEntry, FolderStamp* stamp) const;
    bool IsRootFileSystemTop(const std::string& folder) const;
    bool loaded_ = false;
    // The drives of the last FixedDrives() that are the root file system's top folder.
    std::set<std::string> rootTops_;
    // Every mount point, and the folders that hold one, so that a walk can skip them
    // without a look-up for each subfolder.
    std::set<std::string> mountPoints_;
    std::set<std::string> mountParents_;
    std::vector<std::string> fixed_;
    ReadAheadOptions readAhead_;
    ReadAheadCounts counts_;
};

// Parses mountinfo text into the mount points of fixed disks (without TESSALY_DRIVES),
// root first, then by mount point; a disk mounted inside a system tree (/boot/efi, /var)
// belongs to the operating system and is left out. `blockInfo(major, minor)` tells whether that block
// device counts as a fixed disk. Every mount point of any kind goes to `allMounts`.
std::vector<std::string> FixedMountPoints(const std::string& mountinfo,
                                          const std::function<bool(unsigned, unsigned)>& isFixedDevice,
                                          std::set<std::string>* allMounts);

}  // namespace platform
