#include "platform/Topmost.h"

#include <QWidget>

namespace platform {

void PlaceTopmost(QWidget* window, QPoint position, QSize clientSize) {
    // Changing the flag re-creates the native window and hides it; only do it once.
    if (!window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    window->resize(clientSize);
    window->move(position);
    window->show();
    window->raise();
}

}  // namespace platform
