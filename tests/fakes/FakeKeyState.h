#pragma once
// Test double of the keyboard state for the idle check.
#include <set>

#include "platform/Input.h"

namespace platform {

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
