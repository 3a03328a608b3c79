#pragma once
#include <string>

namespace platform {
// True when the X display `name` (empty: $DISPLAY) accepts a connection.
bool CanOpenXDisplay(const std::string& name);
// What the window manager of display `name` says is the active window (_NET_ACTIVE_WINDOW):
// 1 when it is `window`, 0 when it is another or none, -1 when no window manager says.
// Under Xwayland this is the compositor's choice, which X focus alone does not show.
int WindowManagerActive(const std::string& name, unsigned long window);
}  // namespace platform
