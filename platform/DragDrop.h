#pragma once
// Files dropped from the desktop's file manager: full local paths in the order given.
#include <string>
#include <vector>

class QMimeData;

namespace platform {

// True when the drag carries at least one local file or folder.
bool CarriesLocalFiles(const QMimeData* data);
// The local paths of a drop, as file-name bytes, in the order the source gave them.
std::vector<std::string> DroppedPaths(const QMimeData* data);

}  // namespace platform
