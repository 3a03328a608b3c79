#include "platform/XDisplay.h"

#include <X11/Xlib.h>

namespace platform {

bool CanOpenXDisplay(const std::string& name) {
    Display* d = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!d) return false;
    XCloseDisplay(d);
    return true;
}

}  // namespace platform
