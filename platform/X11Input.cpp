// Xlib calls for the key state and the pointer. Qt's headers come first: Xlib's macros
// (KeyPress, None, Bool) would break them.
#include <QGuiApplication>
#include <QPoint>

#include <X11/Xlib.h>
#include <X11/keysym.h>

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

}  // namespace

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
