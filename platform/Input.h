#pragma once
// Keyboard state for the idle check (GetAsyncKeyState); the cursor comes from Desktop.
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

}  // namespace platform
