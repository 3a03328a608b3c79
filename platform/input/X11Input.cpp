// Xlib calls for the key state and the pointer. Qt's headers come first: Xlib's macros
// (KeyPress, None, Bool) would break them.
#include <QGuiApplication>
#include <QPoint>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <array>

#include "platform/Input.h"

namespace platform::x11 {

namespace {

Display* QtDisplay() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

KeySym KeySymOf(int vk) {
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    switch (vk) {
        case 32: return XK_space;
        case 37: return XK_Left;
        case 38: return XK_Up;
        case 39: return XK_Right;
        case 40: return XK_Down;
        default: return NoSymbol;
    }
}

constexpr int kMaxEventsPerRead = 10000;

// The virtual key of a key symbol among the watched ones; 0 for any other.
int VirtualKeyOfSym(KeySym sym) {
    if (sym >= XK_a && sym <= XK_z) return static_cast<int>('A' + (sym - XK_a));
    if (sym >= XK_A && sym <= XK_Z) return static_cast<int>('A' + (sym - XK_A));
    if (sym >= XK_0 && sym <= XK_9) return static_cast<int>('0' + (sym - XK_0));
    switch (sym) {
        case XK_space: return 32;
        case XK_Left: return 37;
        case XK_Up: return 38;
        case XK_Right: return 39;
        case XK_Down: return 40;
        default: return 0;
    }
}

}  // namespace

std::string QtDisplayName() {
    Display* d = QtDisplay();
    const char* name = d ? DisplayString(d) : nullptr;
    return name ? name : "";
}

struct KeyWatch::Impl {
    Display* display = nullptr;
    int xiOpcode = 0;
    int xkbEvent = -1;  // first event code of XKB; -1 without it
    std::array<int, 256> vkOfCode{};  // by key code: the watched key it types, or 0

    ~Impl() {
        if (display) XCloseDisplay(display);
    }

    // A key counts by the symbols of its first two levels, so a layout that puts the
    // digits on the shifted level (French) still has them.
    void MapKeys() {
        vkOfCode.fill(0);
        int minCode = 0, maxCode = 0, perCode = 0;
        XDisplayKeycodes(display, &minCode, &maxCode);
        if (minCode < 0 || maxCode > 255 || minCode > maxCode) return;
        KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
        if (!syms) return;
        for (int code = minCode; code <= maxCode; ++code)
            for (int level = 0; level < std::min(perCode, 2) && vkOfCode[code] == 0; ++level)
                vkOfCode[code] = VirtualKeyOfSym(syms[(code - minCode) * perCode + level]);
        XFree(syms);
    }

    void Mark(int code, std::bitset<256>& keys) const {
        if (code >= 0 && code < 256 && vkOfCode[code] > 0) keys.set(static_cast<size_t>(vkOfCode[code]));
    }
};

KeyWatch::KeyWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

KeyWatch::~KeyWatch() = default;

std::unique_ptr<KeyWatch> KeyWatch::Open(const std::string& displayName, std::string* why) {
    auto impl = std::make_unique<Impl>();
    impl->display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!impl->display) {
        if (why) *why = "the X display \"" + displayName + "\" does not open";
        return nullptr;
    }
    int event = 0, error = 0;
    int major = 2, minor = 2;
    if (!XQueryExtension(impl->display, "XInputExtension", &impl->xiOpcode, &event, &error) ||
        XIQueryVersion(impl->display, &major, &minor) != Success || major < 2) {
        if (why) *why = "the X display \"" + displayName + "\" has no XInput 2";
        return nullptr;
    }
    // Raw events come from every keyboard, whichever window has the focus, even under a grab.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(impl->display, DefaultRootWindow(impl->display), &mask, 1);
    // A client that uses XKB (Xlib does) hears of a changed keyboard map only through XKB.
    int xkbOpcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(impl->display, &xkbOpcode, &impl->xkbEvent, &xkbError, &xkbMajor, &xkbMinor))
        XkbSelectEvents(impl->display, XkbUseCoreKbd, XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                        XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
    else
        impl->xkbEvent = -1;
    impl->MapKeys();
    XSync(impl->display, False);
    return std::unique_ptr<KeyWatch>(new KeyWatch(std::move(impl)));
}

void KeyWatch::Read(std::bitset<256>& down, std::bitset<256>& pressed) {
    Display* d = impl_->display;
    // The round trip also brings in every event the server sent before it: a press that
    // happened before this read is counted by it.
    char keys[32] = {};
    XQueryKeymap(d, keys);
    // Only what is already here: XPending reads without waiting. A client that floods the
    // server with keys must not hold the GUI here; the rest waits for the next read.
    for (int handled = 0; handled < kMaxEventsPerRead && XPending(d) > 0; ++handled) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
            impl_->MapKeys();
            continue;
        }
        if (impl_->xkbEvent >= 0 && ev.type == impl_->xkbEvent) {
            impl_->MapKeys();
            continue;
        }
        XGenericEventCookie* cookie = &ev.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != impl_->xiOpcode || !XGetEventData(d, cookie))
            continue;
        if (cookie->evtype == XI_RawKeyPress) impl_->Mark(static_cast<XIRawEvent*>(cookie->data)->detail, pressed);
        XFreeEventData(d, cookie);
    }
    down.reset();
    for (int code = 0; code < 256; ++code)
        if ((static_cast<unsigned char>(keys[code / 8]) >> (code % 8)) & 1) impl_->Mark(code, down);
}

bool QueryKeymap(char keys[32]) {
    Display* d = QtDisplay();
    if (!d) return false;
    XQueryKeymap(d, keys);
    return true;
}

bool KeyDown(const char keys[32], int vk) {
    Display* d = QtDisplay();
    KeySym sym = KeySymOf(vk);
    if (!d || sym == NoSymbol) return false;
    KeyCode code = XKeysymToKeycode(d, sym);
    if (code == 0) return false;
    return (static_cast<unsigned char>(keys[code / 8]) >> (code % 8)) & 1;
}

bool QueryPointer(QPoint& pos) {
    Display* d = QtDisplay();
    if (!d) return false;
    Window root = DefaultRootWindow(d), rootReturn = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(d, root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask)) return false;
    pos = QPoint(rootX, rootY);
    return true;
}

}  // namespace platform::x11
