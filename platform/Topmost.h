#pragma once
// SetWindowPos with HWND_TOPMOST and SWP_SHOWWINDOW: a window above the others, placed and shown.
#include <QPoint>
#include <QSize>

class QWidget;

namespace platform {

// Places the window with its frame's top-left corner at `position` and its client area of
// `clientSize`, keeps it above ordinary windows, shows it and brings it to the front.
void PlaceTopmost(QWidget* window, QPoint position, QSize clientSize);

}  // namespace platform
