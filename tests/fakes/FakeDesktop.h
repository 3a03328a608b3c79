#pragma once
// Test double of the screen size and pointer position.
#include <QPoint>
#include <QRect>
#include <QSize>

#include "platform/Desktop.h"

namespace platform {

// A screen of `screen` size with the pointer at `cursor`.
class FakeDesktop : public Desktop {
public:
    QSize screen{1024, 768};
    QPoint cursor{0, 0};
    // The area windows may take; empty: the whole screen.
    QRect available;
    QSize ScreenSize() override { return screen; }
    QRect AvailableArea() override { return available.isEmpty() ? QRect(QPoint(0, 0), screen) : available; }
    QPoint CursorPos() override { return cursor; }
};

}  // namespace platform
