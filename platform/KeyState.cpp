#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <algorithm>

#include "platform/Input.h"

namespace platform {

int VirtualKeyOfQtKey(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space)
        return key;  // the Qt codes of these keys are the virtual-key codes
    switch (key) {
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        default: return 0;
    }
}

X11KeyState::X11KeyState() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

bool X11KeyState::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // Every key event passes the filter once per receiver it is sent on to; a set bit
        // stays one press, which is all the query tells.
        int vk = VirtualKeyOfQtKey(static_cast<QKeyEvent*>(event)->key());
        if (vk > 0) pressed_.set(static_cast<size_t>(vk));
    }
    return QObject::eventFilter(watched, event);
}

short X11KeyState::GetAsyncKeyState(int vk) {
    if (vk <= 0 || vk >= 256) return 0;
    short state = 0;
    // One idle check asks for dozens of keys in a row: one round trip serves them all.
    auto now = std::chrono::steady_clock::now();
    if (now - keymapTime_ > std::chrono::milliseconds(20)) {
        if (!x11::QueryKeymap(keymap_)) std::fill(std::begin(keymap_), std::end(keymap_), 0);
        keymapTime_ = now;
    }
    if (x11::KeyDown(keymap_, vk)) state = static_cast<short>(0x8000);
    if (pressed_.test(static_cast<size_t>(vk))) {
        pressed_.reset(static_cast<size_t>(vk));
        state = static_cast<short>(state | 1);
    }
    return state;
}

}  // namespace platform
