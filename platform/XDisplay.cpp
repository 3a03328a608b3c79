#include "platform/XDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace platform {

// A bare connection: one round trip, and no Xlib state made before Qt sets up Xlib's own.
XDisplayProbe::XDisplayProbe(const std::string& name) {
    xcb_connection_t* c = xcb_connect(name.empty() ? nullptr : name.c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    display_ = c;
}

XDisplayProbe::~XDisplayProbe() { Close(); }

void XDisplayProbe::Close() {
    if (display_) xcb_disconnect(static_cast<xcb_connection_t*>(display_));
    display_ = nullptr;
}

int WindowManagerActive(const std::string& name, unsigned long window) {
    Display* d = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!d) return -1;
    const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", True);
    int result = -1;
    if (active != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, DefaultRootWindow(d), active, 0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                               &data) == Success &&
            type == XA_WINDOW && format == 32 && count == 1 && data) {
            result = *reinterpret_cast<unsigned long*>(data) == window ? 1 : 0;
        }
        if (data) XFree(data);
    }
    XCloseDisplay(d);
    return result;
}

}  // namespace platform
