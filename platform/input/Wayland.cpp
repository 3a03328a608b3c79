#include "platform/input/Wayland.h"

#include <poll.h>
#include <wayland-client.h>

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"

namespace platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

// Reads and dispatches what the compositor sent, waiting at most `waitMs` for it (0: only
// what is there). False when the connection has failed.
bool Pump(wl_display* d, int waitMs) {
    while (wl_display_prepare_read(d) != 0) {
        if (wl_display_dispatch_pending(d) < 0) return false;
    }
    if (wl_display_flush(d) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(d);
        return false;
    }
    pollfd p{wl_display_get_fd(d), POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready > 0) {
        if (wl_display_read_events(d) < 0) return false;
    } else {
        wl_display_cancel_read(d);
        if (ready < 0 && errno != EINTR) return false;
    }
    return wl_display_dispatch_pending(d) >= 0 && wl_display_get_error(d) == 0;
}

// Runs the connection until `done` is set or `timeoutMs` have passed: no compositor that
// hangs can hold the program for longer. False on a failure or the deadline.
bool RunUntil(wl_display* d, const bool& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        if (!Pump(d, static_cast<int>(left))) return false;
    }
    return true;
}

void SyncDone(void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }
const wl_callback_listener kSyncListener = {SyncDone};

// A round trip with a deadline: everything sent before it has been answered.
bool Roundtrip(wl_display* d, int timeoutMs) {
    bool done = false;
    wl_callback* cb = wl_display_sync(d);
    if (!cb) return false;
    wl_callback_add_listener(cb, &kSyncListener, &done);
    const bool ok = RunUntil(d, done, timeoutMs);
    wl_callback_destroy(cb);
    return ok;
}

constexpr int kSetupTimeoutMs = 2000;

// The globals of the compositor that the program uses.
struct Globals {
    wl_seat* seat = nullptr;
    ext_idle_notifier_v1* ext = nullptr;
    org_kde_kwin_idle* kde = nullptr;
    xdg_activation_v1* activation = nullptr;
    bool wantIdle = false;
    bool wantActivation = false;

    void Destroy() {
        if (ext) ext_idle_notifier_v1_destroy(ext);
        if (kde) org_kde_kwin_idle_destroy(kde);
        if (activation) xdg_activation_v1_destroy(activation);
        if (seat) wl_seat_destroy(seat);
        ext = nullptr;
        kde = nullptr;
        activation = nullptr;
        seat = nullptr;
    }
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* g = static_cast<Globals*>(data);
    // Version 1 of each is all the program asks for.
    if (g->wantIdle && !g->seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (g->wantIdle && !g->ext && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
        g->ext = static_cast<ext_idle_notifier_v1*>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    else if (g->wantIdle && !g->kde && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
        g->kde = static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
    else if (g->wantActivation && !g->activation && std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
        g->activation =
            static_cast<xdg_activation_v1*>(wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

// Connects and reads the globals; null (and the reason) on failure.
wl_display* ConnectWithGlobals(const std::string& display, Globals& g, wl_registry** registry, std::string* why) {
    wl_display* d = wl_display_connect(display.empty() ? nullptr : display.c_str());
    if (!d) {
        if (why) *why = "no Wayland compositor at \"" + (display.empty() ? std::string("wayland-0") : display) + "\"";
        return nullptr;
    }
    *registry = wl_display_get_registry(d);
    wl_registry_add_listener(*registry, &kRegistryListener, &g);
    if (!*registry || !Roundtrip(d, kSetupTimeoutMs)) {
        if (why) *why = "the Wayland compositor did not answer";
        g.Destroy();
        if (*registry) wl_registry_destroy(*registry);
        wl_display_disconnect(d);
        return nullptr;
    }
    return d;
}

}  // namespace

std::string SessionDisplay() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name && *name) return name;
    const char* type = std::getenv("XDG_SESSION_TYPE");
    if (type && std::strcmp(type, "wayland") == 0) return "wayland-0";
    return {};
}

bool CanConnect(const std::string& display) {
    if (display.empty()) return false;
    wl_display* d = wl_display_connect(display.c_str());
    if (!d) return false;
    wl_display_disconnect(d);
    return true;
}

struct IdleWatch::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    Globals globals;
    ext_idle_notification_v1* extNote = nullptr;
    org_kde_kwin_idle_timeout* kdeNote = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    // Nothing happened for the quiet time and nothing since.
    bool idle = false;
    // Input came since the last TakeActivity().
    bool resumed = false;

    ~Impl() {
        notifier.reset();
        if (extNote) ext_idle_notification_v1_destroy(extNote);
        if (kdeNote) org_kde_kwin_idle_timeout_release(kdeNote);
        globals.Destroy();
        if (registry) wl_registry_destroy(registry);
        if (display) wl_display_disconnect(display);
    }
};

namespace {

void Idled(void* data) { static_cast<IdleWatch::Impl*>(data)->idle = true; }
void Resumed(void* data) {
    auto* impl = static_cast<IdleWatch::Impl*>(data);
    impl->idle = false;
    impl->resumed = true;
}
void ExtIdled(void* data, ext_idle_notification_v1*) { Idled(data); }
void ExtResumed(void* data, ext_idle_notification_v1*) { Resumed(data); }
const ext_idle_notification_v1_listener kExtListener = {ExtIdled, ExtResumed};
void KdeIdled(void* data, org_kde_kwin_idle_timeout*) { Idled(data); }
void KdeResumed(void* data, org_kde_kwin_idle_timeout*) { Resumed(data); }
const org_kde_kwin_idle_timeout_listener kKdeListener = {KdeIdled, KdeResumed};

}  // namespace

std::unique_ptr<IdleWatch> IdleWatch::Open(const std::string& display, std::string* why, unsigned quietMs) {
    auto impl = std::make_unique<Impl>();
    impl->globals.wantIdle = true;
    impl->display = ConnectWithGlobals(display, impl->globals, &impl->registry, why);
    if (!impl->display) return nullptr;
    Globals& g = impl->globals;
    if (!g.ext && !g.kde) {
        if (why) *why = "the Wayland compositor offers no idle notification (ext-idle-notify-v1, org_kde_kwin_idle)";
        return nullptr;
    }
    if (!g.seat) {
        if (why) *why = "the Wayland compositor has no seat";
        return nullptr;
    }
    if (g.ext) {
        impl->extNote = ext_idle_notifier_v1_get_idle_notification(g.ext, quietMs, g.seat);
        ext_idle_notification_v1_add_listener(impl->extNote, &kExtListener, impl.get());
    } else {
        impl->kdeNote = org_kde_kwin_idle_get_idle_timeout(g.kde, g.seat, quietMs);
        org_kde_kwin_idle_timeout_add_listener(impl->kdeNote, &kKdeListener, impl.get());
    }
    // The compositor took the request (a protocol error would show here).
    if (!Roundtrip(impl->display, kSetupTimeoutMs)) {
        if (why) *why = "the Wayland compositor refused the idle notification";
        return nullptr;
    }
    // A fresh notification counts as input until the quiet time has passed once.
    impl->resumed = true;
    return std::unique_ptr<IdleWatch>(new IdleWatch(std::move(impl)));
}

IdleWatch::IdleWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
    impl_->notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(impl_->display), QSocketNotifier::Read);
    connect(impl_->notifier.get(), &QSocketNotifier::activated, this, [this] { Pump(true); });
}

IdleWatch::~IdleWatch() = default;

const char* IdleWatch::Protocol() const { return impl_->extNote ? "ext-idle-notify-v1" : "org_kde_kwin_idle"; }

void IdleWatch::Pump(bool) {
    if (broken_) return;
    if (!platform::wayland::Pump(impl_->display, 0)) {
        broken_ = true;
        // A closed connection stays readable: stop watching it.
        impl_->notifier->setEnabled(false);
    }
}

bool IdleWatch::TakeActivity() {
    Pump(false);
    const bool activity = impl_->resumed || !impl_->idle;
    impl_->resumed = false;
    return activity;
}

namespace {

void TokenDone(void* data, xdg_activation_token_v1*, const char* token) {
    *static_cast<std::string*>(data) = token ? token : "";
}
const xdg_activation_token_v1_listener kTokenListener = {TokenDone};

}  // namespace

std::string RequestActivationToken(const std::string& display, int timeoutMs) {
    if (display.empty()) return {};
    Globals g;
    g.wantActivation = true;
    wl_registry* registry = nullptr;
    wl_display* d = ConnectWithGlobals(display, g, &registry, nullptr);
    if (!d) return {};
    std::string token;
    if (g.activation) {
        xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(g.activation);
        xdg_activation_token_v1_add_listener(request, &kTokenListener, &token);
        xdg_activation_token_v1_set_app_id(request, "tessaly");
        xdg_activation_token_v1_commit(request);
        // The token arrives in one event; wait for it with the deadline.
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (token.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || !Pump(d, static_cast<int>(left))) break;
        }
        xdg_activation_token_v1_destroy(request);
    }
    g.Destroy();
    wl_registry_destroy(registry);
    wl_display_disconnect(d);
    return token;
}

}  // namespace platform::wayland
