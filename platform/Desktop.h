#pragma once
// Screen size and pointer position.
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace platform {

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual QSize ScreenSize() = 0;
    virtual QPoint CursorPos() = 0;
    // The part of the screen that windows may take (without the desktop's panels); the
    // whole screen unless a desktop says otherwise.
    virtual QRect AvailableArea() { return {QPoint(0, 0), ScreenSize()}; }
};

class QtDesktop : public Desktop {
public:
    QSize ScreenSize() override;
    QPoint CursorPos() override;
    QRect AvailableArea() override;
};

// Centre of the screen for a window of the given outer size; halves truncated toward zero,
// so a window larger than the screen gets negative coordinates.
QPoint CentredPosition(QSize screen, QSize window);

// A dialog frame (borders and caption) around a window's client area, fixed so that window
// sizes and positions do not depend on the window manager's decorations. Window sizes and
// the centring count the whole window, frame included.
inline constexpr int kFrameWidth = 6;
inline constexpr int kFrameHeight = 27;
inline QSize OuterSizeOf(QSize client) { return {client.width() + kFrameWidth, client.height() + kFrameHeight}; }
inline QSize ClientSizeOf(QSize outer) { return {outer.width() - kFrameWidth, outer.height() - kFrameHeight}; }

// Where a window of the given outer size goes: centred on the screen, then moved inside the
// available area. A window larger than the area starts at the area's top left corner, so
// that its caption (to move it by) and its top controls stay in reach.
QPoint OnScreenPosition(QSize screen, QRect area, QSize window);

// Moves a window by its outer size (client area plus frame) to OnScreenPosition, as every
// window does when it is created.
void CentreWindow(QWidget* window);

}  // namespace platform
