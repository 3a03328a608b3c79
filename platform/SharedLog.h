#pragma once
// A text log that several copies of the program may append to at once (the download log):
// every line lands whole, under a lock, and is on the disk when the append returns.
#include <string>
#include <string_view>

namespace platform {

// Appends `line` (its line break included) to the file, creating it when missing, in one
// write that is on the disk when this returns. A failed append leaves the file at its former
// length. Part of a line that an earlier append left when it was cut off (a kill, a power
// cut) is removed first. Anything but a plain file is refused; failures raise EInOutError.
void AppendToSharedLog(const std::string& path, std::string_view line);

}  // namespace platform
