#include "platform/Timer.h"

#include "platform/Guard.h"

TTimer::TTimer(int interval, bool enabled, QObject* parent) : QObject(parent), enabled_(enabled) {
    timer_.setInterval(interval);
    connect(&timer_, &QTimer::timeout, this, &TTimer::Tick);
    Restart();
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Restart();
}

void TTimer::SetInterval(int ms) {
    timer_.setInterval(ms);
    Restart();
}

void TTimer::Restart() {
    if (enabled_ && timer_.interval() > 0)
        timer_.start();
    else
        timer_.stop();
}

void TTimer::Tick() {
    // Called through a copy: the handler may replace it or destroy the timer.
    auto handler = OnTimer;
    if (handler) platform::Guarded(handler);
}
