#include "platform/Desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "platform/Services.h"

#include "platform/Input.h"

namespace platform {

QSize QtDesktop::ScreenSize() {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().size() : QSize(1024, 768);
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

void CentreWindow(QWidget* window) {
    window->move(CentredPosition(Current().desktop->ScreenSize(), OuterSizeOf(window->size())));
}

}  // namespace platform
