#include "app/FirstPaint.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

class FirstPaintHook : public QObject {
public:
    FirstPaintHook(QWidget* window, int fallbackMs, std::function<void()> then)
        : QObject(window), then_(std::move(then)) {
        window->installEventFilter(this);
        if (fallbackMs >= 0) QTimer::singleShot(fallbackMs, this, [this] { Run(); });
    }

    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && !queued_) {
            queued_ = true;
            QTimer::singleShot(0, this, [this] { Run(); });
        }
        return false;
    }

private:
    void Run() {
        if (!then_) return;
        const std::function<void()> then = std::move(then_);
        then_ = nullptr;
        deleteLater();
        then();
    }

    std::function<void()> then_;
    bool queued_ = false;
};

}  // namespace

void AfterFirstPaint(QWidget* window, int fallbackMs, std::function<void()> then) {
    new FirstPaintHook(window, fallbackMs, std::move(then));
}
