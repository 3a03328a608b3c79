#pragma once
// Keyboard state for the idle check (GetAsyncKeyState); the cursor comes from Desktop.
#include <QObject>
#include <QPoint>
#include <bitset>
#include <chrono>
#include <set>

namespace platform {

class KeyState {
public:
    virtual ~KeyState() = default;
    // Non-zero when the virtual key is down now or was pressed since the previous query.
    virtual short GetAsyncKeyState(int virtualKey) = 0;
};

// Keys listed in `down` read as down until removed; keys in `pressedOnce` read as pressed
// once and are then forgotten, as a press since the last query is.
class FakeKeyState : public KeyState {
public:
    short GetAsyncKeyState(int vk) override {
        queried.insert(vk);
        if (down.count(vk)) return static_cast<short>(0x8000);
        if (pressedOnce.erase(vk)) return 1;
        return 0;
    }
    std::set<int> down;
    std::set<int> pressedOnce;
    std::set<int> queried;
};

// Virtual-key code of a Qt key for the keys the idle check watches (letters, digits,
// arrows, space); 0 for any other key.
int VirtualKeyOfQtKey(int qtKey);

// The X server's view (XQueryKeymap on the display Qt uses) joined with a record of the key
// presses the application itself saw since the last query, so a quick tap between two
// queries still counts. Without an X11 display only the record is used.
class X11KeyState : public QObject, public KeyState {
public:
    X11KeyState();
    short GetAsyncKeyState(int virtualKey) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::bitset<256> pressed_;
    char keymap_[32] = {};
    std::chrono::steady_clock::time_point keymapTime_{};
};

// The X11 side, kept apart from Qt's headers (Xlib's macros clash with Qt's names).
namespace x11 {
// True and the 32-byte key vector when Qt runs on an X11 display.
bool QueryKeymap(char keys[32]);
// True when the key of the virtual-key code is down in the key vector.
bool KeyDown(const char keys[32], int virtualKey);
// True and the pointer's position on the screen when Qt runs on an X11 display.
bool QueryPointer(QPoint& pos);
}  // namespace x11

}  // namespace platform
