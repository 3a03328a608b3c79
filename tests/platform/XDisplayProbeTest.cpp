// The X display probe of the start: it says whether the display opens, and while it is held
// the server keeps what its clients left (a server that loses its last client resets, and
// the program's own connection would wait for that).
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/XDisplay.h"
#include "support/DesktopServers.h"

// Last: Xlib's macros clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// Sets a property on the root window from a connection of its own, which then closes.
void MarkRoot(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    ASSERT_NE(d, nullptr);
    const Atom mark = XInternAtom(d, "TESSALY_PROBE_MARK", False);
    const unsigned char value = 1;
    XChangeProperty(d, DefaultRootWindow(d), mark, XA_CARDINAL, 8, PropModeReplace, &value, 1);
    XCloseDisplay(d);
}

bool RootMarked(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    const Atom mark = XInternAtom(d, "TESSALY_PROBE_MARK", True);
    bool marked = false;
    if (mark != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        marked = XGetWindowProperty(d, DefaultRootWindow(d), mark, 0, 1, False, AnyPropertyType, &type, &format, &count,
                                    &after, &data) == Success &&
                 count == 1;
        if (data) XFree(data);
    }
    XCloseDisplay(d);
    return marked;
}

TEST(XDisplayProbe, HeldItKeepsTheServerAsItIsAndClosedTheServerResets) {
    testsupport::XvfbServer x(QStringLiteral("320x240x24"), testsupport::XvfbServer::Reset::WhenTheLastClientLeaves);
    ASSERT_TRUE(x.Running());
    platform::XDisplayProbe probe(x.Name());
    ASSERT_TRUE(probe.Opened());
    MarkRoot(x.Name());
    // Another client came and went: the probe still holds the server.
    EXPECT_TRUE(RootMarked(x.Name()));
    EXPECT_TRUE(probe.Opened());
    // Failure twin: closed, it was the last client, and the server started afresh.
    probe.Close();
    probe.Close();
    EXPECT_FALSE(probe.Opened());
    EXPECT_FALSE(RootMarked(x.Name()));
    // A display nobody serves does not open, and says so.
    EXPECT_FALSE(platform::XDisplayProbe(":" + std::to_string(30000 + ::getpid() % 2000)).Opened());
}

}  // namespace
