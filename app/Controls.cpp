#include "app/Controls.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

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

TLabel::TLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    ApplySize();
}

void TLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
    if (sizeQueued_) return;
    sizeQueued_ = true;
    QMetaObject::invokeMethod(this, [this] { ApplySize(); }, Qt::QueuedConnection);
}

void TLabel::ApplySize() {
    sizeQueued_ = false;
    QSize want = sizeHint();
    if (want != size()) resize(want);
    update();
}

void TLabel::Repaint() {
    ApplySize();
    repaint();
}

QSize TLabel::sizeHint() const {
    QFontMetrics fm(font());
    QSize s = fm.size(0, text_);
    return {std::max(s.width(), 1), std::max(s.height(), fm.height())};
}

void TLabel::paintEvent(QPaintEvent*) {
    if (sizeQueued_) ApplySize();
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.setFont(font());
    p.drawText(QRect(QPoint(0, 0), QWidget::size()), Qt::AlignLeft | Qt::AlignTop, text_);
}

void TLabel::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange) ApplySize();
    QWidget::changeEvent(e);
}

TStatusBar::TStatusBar(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setIndent(4);
}
