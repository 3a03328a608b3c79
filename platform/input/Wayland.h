#pragma once
// The Wayland compositor of the session, on connections of our own (not Qt's): whether the
// session is a Wayland one and reachable, the compositor's idle notifications for the idle
// check, and an activation token for a later start that has no window.
#include <QObject>
#include <memory>
#include <string>

struct wl_display;

namespace platform::wayland {

// The compositor's socket name: $WAYLAND_DISPLAY, else "wayland-0" on a session that says it
// is a Wayland one (XDG_SESSION_TYPE=wayland); empty when the session is no Wayland session.
std::string SessionDisplay();
// True when a Wayland client can connect to `display` (a name or an absolute path).
bool CanConnect(const std::string& display);

// Input seen by the compositor, through its idle notifications on a connection of its own:
// ext-idle-notify-v1 where the compositor offers it, else KDE's org_kde_kwin_idle (sway 1.7,
// older KWin). The connection is read by the event loop.
class IdleWatch : public QObject {
public:
    // Null, with the reason in `why`, when the compositor cannot be reached or offers
    // neither protocol or no seat. `quietMs`: no input for this long reads as idle.
    static std::unique_ptr<IdleWatch> Open(const std::string& display, std::string* why, unsigned quietMs = 1000);
    ~IdleWatch() override;
    // True when the compositor saw input since the previous call or less than `quietMs` ago.
    bool TakeActivity();
    // True once the connection has failed (the compositor went away): nothing more comes.
    bool Broken() const { return broken_; }
    // "ext-idle-notify-v1" or "org_kde_kwin_idle".
    const char* Protocol() const;

    struct Impl;

private:
    explicit IdleWatch(std::unique_ptr<Impl> impl);
    void Pump(bool readable);
    std::unique_ptr<Impl> impl_;
    bool broken_ = false;
};

// A fresh activation token from the compositor (xdg-activation-v1), for a program without a
// window that hands the activation on to another; empty when the compositor gives none
// within `timeoutMs`.
std::string RequestActivationToken(const std::string& display, int timeoutMs);

}  // namespace platform::wayland
