#pragma once
#include <string>

namespace platform {
// A connection to the X display `name` (empty: $DISPLAY) that says whether it opened and is
// kept until Close or the end of the object. A server that loses its only client resets
// itself, and a client connecting meanwhile waits for the reset or is refused: a probe held
// until the next connection is up spares that connection both.
class XDisplayProbe {
public:
    explicit XDisplayProbe(const std::string& name);
    ~XDisplayProbe();
    XDisplayProbe(const XDisplayProbe&) = delete;
    XDisplayProbe& operator=(const XDisplayProbe&) = delete;
    bool Opened() const { return display_ != nullptr; }
    void Close();

private:
    void* display_ = nullptr;
};

// What the window manager of display `name` says is the active window (_NET_ACTIVE_WINDOW):
// 1 when it is `window`, 0 when it is another or none, -1 when no window manager says.
// Under Xwayland this is the compositor's choice, which X focus alone does not show.
int WindowManagerActive(const std::string& name, unsigned long window);
}  // namespace platform
