#include "platform/Guard.h"

#include "platform/Services.h"

namespace platform {

void ShowCurrentException() {
    QString text;
    try {
        throw;
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("不明な例外が発生しました");
    }
    try {
        Current().boxes->Show(BoxKind::Error, text);
    } catch (...) {
        // A failing error box has nobody left to tell.
    }
}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return true;
    }
}

}  // namespace platform
