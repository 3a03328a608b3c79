#pragma once
// Find-first/find-next over one folder: the entries whose names match a mask.
#include <string>
#include <string_view>

#include "platform/Drives.h"

namespace platform {

// A file-name mask with "*" (any run of characters) and "?" (one character); letters
// A-Z and a-z compare equal. "*.*" matches every name, with or without a dot.
class FileMask {
public:
    explicit FileMask(std::string_view mask);
    bool Matches(std::string_view name) const;

private:
    std::string lower_;
    // The common form "*" followed by a plain tail ("*.MP3") is a suffix test.
    bool suffixOnly_ = false;
    bool all_ = false;
};

enum class FindWhat { Files, FoldersAndFiles };

// Calls `onEntry` for each entry of `folder` (ending with the separator) that matches
// `mask`: plain files, or folders and plain files; hidden names and symbolic links never.
// Reads through the drives service in use. False when the folder cannot be read.
bool Find(const std::string& folder, std::string_view mask, FindWhat what, const FolderEntryFn& onEntry);

}  // namespace platform
