#include "platform/Desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "platform/Services.h"

#include "platform/Input.h"

namespace platform {

QSize QtDesktop::ScreenSize() {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().size() : QSize(1024, 768);
}

QRect QtDesktop::AvailableArea() {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry() : QRect(QPoint(0, 0), ScreenSize());
}

QPoint QtDesktop::CursorPos() {
    // The X server's pointer, wherever it is; Qt's own idea of it where there is no X11.
    QPoint p;
    if (x11::QueryPointer(p)) return p;
    return QCursor::pos();
}

QPoint CentredPosition(QSize screen, QSize window) {
    // Integer division truncates toward zero, not down: an odd excess of a window larger than
    // the screen rounds toward the screen's corner, by the same rule as a smaller window.
    return {(screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2};
}

QPoint OnScreenPosition(QSize screen, QRect area, QSize window) {
    QPoint at = CentredPosition(screen, window);
    if (area.isEmpty()) return at;
    // Right and bottom edges first, so that a window larger than the area ends at its left
    // and top edges.
    at.setX(std::min(at.x(), area.x() + area.width() - window.width()));
    at.setY(std::min(at.y(), area.y() + area.height() - window.height()));
    at.setX(std::max(at.x(), area.x()));
    at.setY(std::max(at.y(), area.y()));
    return at;
}

void CentreWindow(QWidget* window) {
    Desktop& desktop = *Current().desktop;
    window->move(OnScreenPosition(desktop.ScreenSize(), desktop.AvailableArea(), OuterSizeOf(window->size())));
}

}  // namespace platform
