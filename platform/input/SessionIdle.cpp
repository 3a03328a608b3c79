// The session's idle time over D-Bus, for desktops whose display server shows no other
// program's keys.
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <algorithm>
#include <cstdio>

#include "platform/Input.h"
#include "platform/input/Wayland.h"

namespace platform {

namespace {

struct IdleService {
    const char* service;
    const char* path;
    const char* interface;
    const char* method;
};

// Best first. Both answer in milliseconds (GNOME's Mutter; KDE Plasma and others).
constexpr IdleService kServices[] = {
    {"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor",
     "GetIdletime"},
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
     "GetSessionIdleTime"},
};
constexpr size_t kServiceCount = sizeof kServices / sizeof kServices[0];

// A question that gets no answer in this time counts as failed; the next query asks again.
constexpr int kCallTimeoutMs = 2000;
// Rounding of the idle time and of our clock between two samples.
constexpr long long kRoundingMs = 20;
// Longer than any session lasts; bounds a hostile answer before arithmetic.
constexpr long long kMaxIdleMs = 10LL * 365 * 24 * 3600 * 1000;

long long MsBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

}  // namespace

bool IdleTimeShowsInput(long long previousIdleMs, long long idleMs, long long sendGapMs) {
    return idleMs + kRoundingMs < previousIdleMs + std::max(0LL, sendGapMs);
}

SessionIdleKeyState::SessionIdleKeyState(const QDBusConnection& bus, std::string waylandDisplay,
                                         std::chrono::milliseconds retry)
    : bus_(bus), waylandDisplay_(std::move(waylandDisplay)), retry_(retry) {
    lastTry_ = std::chrono::steady_clock::now();
    OpenCompositor();
    if (!compositor_) Ask();
}

// The question in flight is a child: it goes with this object, and so does its answer.
SessionIdleKeyState::~SessionIdleKeyState() = default;

void SessionIdleKeyState::OpenCompositor() {
    if (waylandDisplay_.empty()) {
        compositorWhy_.clear();
        return;
    }
    compositor_ = wayland::IdleWatch::Open(waylandDisplay_, &compositorWhy_);
    if (compositor_) {
        gaveUp_ = false;
        // The D-Bus side rests while the compositor answers.
        sourceWorks_ = false;
        haveSample_ = false;
    }
}

QString SessionIdleKeyState::Source() const {
    if (compositor_) return QString::fromLatin1(compositor_->Protocol());
    return sourceWorks_ && !gaveUp_ ? QString::fromLatin1(kServices[source_].service) : QString();
}

void SessionIdleKeyState::TryAgain() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastTry_ < retry_) return;
    lastTry_ = now;
    OpenCompositor();
    if (!compositor_ && gaveUp_ && !inFlight_) {
        // The services from the first again: one may have come since.
        gaveUp_ = false;
        source_ = 0;
        sourceWorks_ = false;
        haveSample_ = false;
        Ask();
    }
}

short SessionIdleKeyState::GetAsyncKeyState(int vk) {
    if (vk <= 0 || vk >= 256) return 0;
    const bool own = record_.Take(vk);
    if (compositor_ && compositor_->Broken()) {
        // The compositor went away (restarted, or the session ended): the bus until it is
        // back.
        compositorWhy_ = "the Wayland compositor closed the connection";
        compositor_.reset();
        lastTry_ = std::chrono::steady_clock::now();
        Ask();
    }
    if (!compositor_ && (gaveUp_ || !sourceWorks_)) TryAgain();
    if (compositor_) return (compositor_->TakeActivity() || own) ? 1 : 0;
    const bool input = activity_;
    activity_ = false;
    Ask();
    return (own || input) ? 1 : 0;
}

void SessionIdleKeyState::Ask() {
    if (gaveUp_ || inFlight_ || compositor_) return;
    if (!bus_.isConnected()) {
        GiveUp((compositorWhy_.empty() ? QString() : QString::fromStdString(compositorWhy_) + QStringLiteral(", ")) +
               QStringLiteral("no session bus"));
        return;
    }
    const IdleService& s = kServices[source_];
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(s.service), QString::fromLatin1(s.path),
                                                       QString::fromLatin1(s.interface), QString::fromLatin1(s.method));
    sent_ = std::chrono::steady_clock::now();
    inFlight_ = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(inFlight_, &QDBusPendingCallWatcher::finished, this, &SessionIdleKeyState::OnReply);
}

void SessionIdleKeyState::OnReply(QDBusPendingCallWatcher* call) {
    const auto received = std::chrono::steady_clock::now();
    call->deleteLater();
    if (call != inFlight_) return;
    inFlight_ = nullptr;
    const QDBusMessage reply = call->reply();
    bool ok = reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1;
    long long idleMs = 0;
    if (ok) {
        const QVariant v = reply.arguments().front();
        const QMetaType::Type type = static_cast<QMetaType::Type>(v.metaType().id());
        ok = type == QMetaType::ULongLong || type == QMetaType::UInt;
        if (ok) idleMs = static_cast<long long>(std::min<qulonglong>(v.toULongLong(), kMaxIdleMs));
    }
    if (!ok) {
        if (sourceWorks_) {
            // A service that answered before and fails now (busy, restarting) is asked again at
            // the next query; the last good sample stays the reference.
            emit Answered();
            return;
        }
        if (++source_ < kServiceCount) {
            Ask();
            emit Answered();
            return;
        }
        QStringList names;
        if (!compositorWhy_.empty()) names << QString::fromStdString(compositorWhy_);
        for (const IdleService& s : kServices) names << QString::fromLatin1(s.service);
        GiveUp(QStringLiteral("no session idle time (") + names.join(QStringLiteral(", ")) + QStringLiteral(")"));
        emit Answered();
        return;
    }
    sourceWorks_ = true;
    if (haveSample_ && IdleTimeShowsInput(lastIdleMs_, idleMs, MsBetween(lastReceived_, sent_))) activity_ = true;
    haveSample_ = true;
    lastIdleMs_ = idleMs;
    lastReceived_ = received;
    emit Answered();
}

void SessionIdleKeyState::GiveUp(const QString& why) {
    if (gaveUp_) return;
    gaveUp_ = true;
    lastTry_ = std::chrono::steady_clock::now();
    // Once: the retries that fail again change nothing the user should hear about.
    if (said_) return;
    said_ = true;
    std::fprintf(stderr, "tessaly: %s: the idle check sees only keys typed into this program's windows\n",
                 why.toLocal8Bit().constData());
    std::fflush(stderr);
}

}  // namespace platform
