#include "app/FirstPaint.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

namespace {

// What a user does to a window. A window can take these before its first paint (a click
// queued with the expose, a window restored from minimized, a drop); the handlers they reach
// may need what waits for the paint, so the work runs first.
bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TabletPress:
            return true;
        default:
            return false;
    }
}

class FirstPaintHook : public QObject {
public:
    FirstPaintHook(QWidget* window, int fallbackMs, std::function<void()> then)
        : QObject(window), window_(window), then_(std::move(then)) {
        // Application-wide: input to any window counts, not only to this one.
        QCoreApplication::instance()->installEventFilter(this);
        if (fallbackMs >= 0) QTimer::singleShot(fallbackMs, this, [this] { Run(); });
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (!then_) return false;
        if (IsInput(e->type())) {
            Run();  // before the input reaches its handler
        } else if (e->type() == QEvent::Paint && watched == window_ && !queued_) {
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
        QCoreApplication::instance()->removeEventFilter(this);
        deleteLater();
        then();
    }

    QWidget* window_;
    std::function<void()> then_;
    bool queued_ = false;
};

}  // namespace

void AfterFirstPaint(QWidget* window, int fallbackMs, std::function<void()> then) {
    new FirstPaintHook(window, fallbackMs, std::move(then));
}

void ReportShownAndQuit() {
    // Said first: the measurement ends there, not after the list.
    std::printf("shown\n");
    std::fflush(stdout);
    std::set<std::string> libraries;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        if (path.find(".so") != std::string::npos) libraries.insert(path);
    }
    for (const std::string& library : libraries) std::printf("library %s\n", library.c_str());
    std::fflush(stdout);
    QCoreApplication::exit(0);
}
