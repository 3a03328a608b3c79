#include "app/Controls.h"

#include "platform/Guard.h"

TTimer::TTimer(int interval, bool enabled, QObject* parent) : QObject(parent), enabled_(enabled) {
    timer_.setInterval(interval);
    connect(&timer_, &QTimer::timeout, this, &TTimer::Tick);
    if (enabled_) timer_.start();
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled_)
        timer_.start();
    else
        timer_.stop();
}

void TTimer::SetInterval(int ms) {
    timer_.setInterval(ms);
    if (enabled_) timer_.start();
}

void TTimer::Tick() {
    if (OnTimer) platform::Guarded(OnTimer);
}

TLabel::TLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    adjustSize();
}

void TLabel::SetCaption(const QString& text) {
    if (text == this->text()) return;
    setText(text);
    adjustSize();
}

TStatusBar::TStatusBar(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setIndent(4);
}
