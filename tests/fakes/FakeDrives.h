#pragma once
// Test double of the fixed disks.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/Drives.h"

namespace platform {

// Test stand-in: the listed folders are the drives, and folders are read from the real
// file system, except those in `unreadable`, which fail as an access error would. The
// drive `systemRoot` stands for the root file system.
class FakeDrives : public Drives {
public:
    std::vector<std::string> FixedDrives() override { return roots; }
    bool ReadFolder(const std::string& folder, const FolderEntryFn& onEntry) override {
        ++reads;
        if (unreadable.count(folder)) return false;
        FolderPlace place;
        place.rootFileSystemTop = !systemRoot.empty() && folder == systemRoot;
        place.diskTop = std::find(roots.begin(), roots.end(), folder) != roots.end();
        return ReadFolderEntries(folder, &mountPoints, onEntry, place);
    }
    std::vector<std::string> roots;
    std::string systemRoot;
    std::set<std::string> unreadable;
    std::set<std::string> mountPoints;
    int reads = 0;
};

}  // namespace platform
