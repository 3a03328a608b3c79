#pragma once
// The interval timer of the windows and of the sockets' time-outs.
#include <QObject>
#include <QTimer>

#include <functional>

// Ticks every Interval() milliseconds on the GUI thread while enabled. Turning it on, also
// when it is on already, and changing the interval of a running timer start the countdown
// afresh: a caller restarts a time-out by enabling it again. An interval of 0 never ticks, so
// that a time-out of 0 means none. A tick handler's exception goes to the error box.
class TTimer : public QObject {
    Q_OBJECT
public:
    TTimer(int interval, bool enabled, QObject* parent = nullptr);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Interval() const { return timer_.interval(); }
    void SetInterval(int ms);
    // True while a tick is due.
    bool Running() const { return timer_.isActive(); }
    // The tick handler. It may destroy the timer.
    std::function<void()> OnTimer;

private:
    void Restart();
    void Tick();
    QTimer timer_;
    bool enabled_;
};
