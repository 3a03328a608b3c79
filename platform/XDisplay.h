#pragma once
#include <string>

namespace platform {
// True when the X display `name` (empty: $DISPLAY) accepts a connection.
bool CanOpenXDisplay(const std::string& name);
}  // namespace platform
