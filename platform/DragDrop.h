#pragma once
// Files dropped from the desktop's file manager: full local paths in the order given.
#include <string>
#include <vector>

class QMimeData;
class QUrl;

namespace platform {

// True when the drag carries at least one local file or folder (a file URL without a host,
// or naming this machine).
bool CarriesLocalFiles(const QMimeData* data);
// The file-name bytes of a local-file URL, percent-decoded byte for byte.
std::string LocalPathBytes(const QUrl& url);
// The local paths of a drop, as file-name bytes, in the order the source gave them; URLs of
// other hosts, and names holding a NUL byte, are left out.
std::vector<std::string> DroppedPaths(const QMimeData* data);

}  // namespace platform
