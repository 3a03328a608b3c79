#pragma once
// Screen size and pointer position, with a scripted stand-in for tests.
#include <QPoint>
#include <QSize>

namespace platform {

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual QSize ScreenSize() = 0;
    virtual QPoint CursorPos() = 0;
};

class QtDesktop : public Desktop {
public:
    QSize ScreenSize() override;
    QPoint CursorPos() override;
};

class FakeDesktop : public Desktop {
public:
    QSize screen{1024, 768};
    QPoint cursor{0, 0};
    QSize ScreenSize() override { return screen; }
    QPoint CursorPos() override { return cursor; }
};

// Centre of the screen for a window of the given outer size; halves truncated toward zero,
// so a window larger than the screen gets negative coordinates.
QPoint CentredPosition(QSize screen, QSize window);

}  // namespace platform
