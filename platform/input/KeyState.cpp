#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/Input.h"
#include "platform/input/Wayland.h"

namespace platform {

namespace {

// One idle check asks for dozens of keys in a row: one read of the server serves them all.
constexpr auto kReadReuse = std::chrono::milliseconds(20);

short StateOf(bool down, bool pressed) {
    return static_cast<short>((down ? 0x8000 : 0) | (pressed ? 1 : 0));
}

bool ValidKey(int vk) { return vk > 0 && vk < 256; }

void Say(const std::string& text) {
    std::fprintf(stderr, "tessaly: %s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace

int VirtualKeyOfQtKey(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Space)
        return key;  // the Qt codes of these keys are the virtual-key codes
    switch (key) {
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        default: return 0;
    }
}

AppKeyRecord::AppKeyRecord() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

bool AppKeyRecord::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // Every key event passes the filter once per receiver it is sent on to; a set bit
        // stays one press, which is all the query tells.
        int vk = VirtualKeyOfQtKey(static_cast<QKeyEvent*>(event)->key());
        if (vk > 0) pressed_.set(static_cast<size_t>(vk));
    }
    return QObject::eventFilter(watched, event);
}

bool AppKeyRecord::Take(int vk) {
    if (!ValidKey(vk) || !pressed_.test(static_cast<size_t>(vk))) return false;
    pressed_.reset(static_cast<size_t>(vk));
    return true;
}

short X11KeyState::GetAsyncKeyState(int vk) {
    if (!ValidKey(vk)) return 0;
    auto now = std::chrono::steady_clock::now();
    if (now - keymapTime_ > kReadReuse) {
        if (!x11::QueryKeymap(keymap_)) std::fill(std::begin(keymap_), std::end(keymap_), 0);
        keymapTime_ = now;
    }
    const bool down = x11::KeyDown(keymap_, vk);
    return StateOf(down, record_.Take(vk));
}

X11DesktopKeyState::X11DesktopKeyState(std::unique_ptr<x11::KeyWatch> watch) : watch_(std::move(watch)) {}

X11DesktopKeyState::~X11DesktopKeyState() = default;

std::unique_ptr<X11DesktopKeyState> X11DesktopKeyState::Open(const std::string& displayName, std::string* why) {
    auto watch = x11::KeyWatch::Open(displayName, why);
    if (!watch) return nullptr;
    return std::unique_ptr<X11DesktopKeyState>(new X11DesktopKeyState(std::move(watch)));
}

short X11DesktopKeyState::GetAsyncKeyState(int vk) {
    if (!ValidKey(vk)) return 0;
    auto now = std::chrono::steady_clock::now();
    if (now - readTime_ > kReadReuse) {
        watch_->Read(down_, pressed_);
        readTime_ = now;
    }
    const size_t k = static_cast<size_t>(vk);
    const bool pressed = pressed_.test(k);
    pressed_.reset(k);
    // Both records are emptied for this key: a press the application saw is also a raw
    // press, and counting it twice would make one press last two queries.
    const bool own = record_.Take(vk);
    return StateOf(down_.test(k), pressed || own);
}

std::vector<InputSource> InputSourceOrder(std::string_view qtPlatform, bool haveXDisplay, bool waylandSession) {
    if (waylandSession || qtPlatform.substr(0, 7) == "wayland") return {InputSource::SessionIdle};
    if (haveXDisplay || qtPlatform == "xcb") return {InputSource::X11Desktop};
    return {};
}

std::unique_ptr<KeyState> MakeSystemKeyState() {
    const QString platformName = QGuiApplication::platformName();
    const char* display = std::getenv("DISPLAY");
    const std::string wayland = wayland::SessionDisplay();
    const bool haveX = display && *display;
    std::string reason = "no X display and no Wayland session";
    for (InputSource source : InputSourceOrder(platformName.toStdString(), haveX, !wayland.empty())) {
        if (source == InputSource::SessionIdle)
            return std::make_unique<SessionIdleKeyState>(QDBusConnection::sessionBus(), wayland);
        std::string name = x11::QtDisplayName();
        if (name.empty() && haveX) name = display;
        if (auto keys = X11DesktopKeyState::Open(name, &reason)) return keys;
    }
    Say(reason + ": the idle check sees only keys held at each check or typed into this program's windows");
    return std::make_unique<X11KeyState>();
}

KeyState& DeferredKeyState::Make() {
    if (!made_) made_ = make_ ? make_() : nullptr;
    // A maker that gives nothing leaves the application's own record.
    if (!made_) made_ = std::make_unique<X11KeyState>();
    return *made_;
}

short DeferredKeyState::GetAsyncKeyState(int vk) { return Make().GetAsyncKeyState(vk); }

std::unique_ptr<DeferredKeyState> MakeDeferredSystemKeyState() {
    return std::make_unique<DeferredKeyState>(MakeSystemKeyState);
}

}  // namespace platform
