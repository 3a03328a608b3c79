#pragma once
// Test double of the screen size and pointer position.
#include <QPoint>
#include <QSize>

#include "platform/Desktop.h"

namespace platform {

// A screen of `screen` size with the pointer at `cursor`.
class FakeDesktop : public Desktop {
public:
    QSize screen{1024, 768};
    QPoint cursor{0, 0};
    QSize ScreenSize() override { return screen; }
    QPoint CursorPos() override { return cursor; }
};

}  // namespace platform
