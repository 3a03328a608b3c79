#pragma once
// The top-level exception handler: a failing handler ends at the failing step, its message
// is shown in an error box, and the program goes on.
#include <QApplication>
#include <exception>
#include <utility>

namespace platform {

// Shows the message of the exception in flight (call inside a catch block).
void ShowCurrentException();

template <class F>
void Guarded(F&& f) noexcept {
    try {
        std::forward<F>(f)();
    } catch (...) {
        ShowCurrentException();
    }
}

// The application object; exceptions that escape an event handler end up in the error box
// instead of leaving the event loop.
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace platform
