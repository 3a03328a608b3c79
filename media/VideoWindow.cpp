#include "media/VideoWindow.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace platform {

namespace {

QPointer<QWidget> g_controls;

int Overlap(const QRect& a, const QRect& b) {
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : both.width() * both.height();
}

}  // namespace

QRect VideoPlacement(QSize size, const QRect& owner, const QRect& controls, const QRect& area) {
    if (size.width() > area.width() || size.height() > area.height()) size.scale(area.size(), Qt::KeepAspectRatio);
    size = size.expandedTo(QSize(1, 1));
    const int w = size.width(), h = size.height();
    // Moved into the area, which it fits.
    auto inside = [&](int x, int y) {
        x = std::clamp(x, area.left(), area.left() + area.width() - w);
        y = std::clamp(y, area.top(), area.top() + area.height() - h);
        return QRect(x, y, w, h);
    };
    if (owner.isEmpty()) return inside(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2);
    const QRect sides[] = {
        inside(owner.right() + 1, owner.top()),
        inside(owner.left() - w, owner.top()),
        inside(owner.left(), owner.bottom() + 1),
        inside(owner.left(), owner.top() - h),
    };
    for (const QRect& r : sides)
        if (!r.intersects(owner)) return r;
    // No side has room for the whole picture: the largest it can be in one of the free
    // strips around the owner, when that is still a picture to look at.
    const QRect strips[] = {
        QRect(QPoint(owner.right() + 1, area.top()), area.bottomRight()),
        QRect(area.topLeft(), QPoint(owner.left() - 1, area.bottom())),
        QRect(QPoint(area.left(), owner.bottom() + 1), area.bottomRight()),
        QRect(area.topLeft(), QPoint(area.right(), owner.top() - 1)),
    };
    QRect shrunk;
    for (const QRect& strip : strips) {
        if (strip.width() <= 0 || strip.height() <= 0) continue;
        const QSize fit = size.scaled(strip.size(), Qt::KeepAspectRatio).boundedTo(size);
        if (fit.width() * fit.height() <= shrunk.width() * shrunk.height()) continue;
        // Next to the owner, level with its top or left edge where the strip allows.
        const int x = strip.left() == area.left() && strip.right() < owner.left() ? strip.right() + 1 - fit.width()
                                                                                   : std::max(strip.left(), std::min(owner.left(), strip.right() + 1 - fit.width()));
        const int y = strip.top() == area.top() && strip.bottom() < owner.top() ? strip.bottom() + 1 - fit.height()
                                                                                 : std::max(strip.top(), std::min(owner.top(), strip.bottom() + 1 - fit.height()));
        shrunk = QRect(QPoint(x, y), fit);
    }
    if (shrunk.width() >= std::min(w, 160) && shrunk.height() >= std::min(h, 90)) return shrunk;
    // Beside each side, or in a corner of the area.
    const QRect spots[] = {sides[0], sides[1], sides[2], sides[3],
                           inside(area.left(), area.top()), inside(area.right(), area.top()),
                           inside(area.left(), area.bottom()), inside(area.right(), area.bottom())};
    const QRect* best = &spots[0];
    for (const QRect& r : spots)
        if (Overlap(r, controls) < Overlap(*best, controls)) best = &r;
    return *best;
}

VideoWindow::VideoWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // The user walks the list with the keys while a video plays: the keys stay there.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
}

void VideoWindow::KeepClearOf(QWidget* controls) { g_controls = controls; }

void VideoWindow::ShowFrame(const QImage& frame) {
    if (frame.isNull()) return;
    frame_ = frame;
    ++frames_;
    if (revealed_ && !placed_) ComeUp();
    update();
}

void VideoWindow::Reveal() {
    revealed_ = true;
    if (!frame_.isNull() && !isVisible()) ComeUp();
}

void VideoWindow::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    // A window system that activates every new window anyway: the activation goes back to
    // the window that had it, and with it the keys.
    if (e->type() == QEvent::ActivationChange && isActiveWindow() && giveBack_ && giveBack_->isVisible())
        giveBack_->activateWindow();
}

void VideoWindow::ComeUp() {
    if (QWidget* active = QApplication::activeWindow(); active && active != this) giveBack_ = active;
    if (!placed_) {
        // First showing for this medium: the picture's own size, beside the main window.
        placed_ = true;
        QScreen* screen = QGuiApplication::primaryScreen();
        QRect owner, controls;
        if (g_controls) {
            QWidget* top = g_controls->window();
            screen = top->screen();
            owner = top->frameGeometry();
            controls = QRect(g_controls->mapToGlobal(QPoint(0, 0)), g_controls->size());
        }
        const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), frame_.size());
        setGeometry(VideoPlacement(frame_.size(), owner, controls, area));
    }
    show();
}

void VideoWindow::Reset() {
    hide();
    frame_ = QImage();
    frames_ = 0;
    placed_ = false;
    revealed_ = false;
}

void VideoWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (frame_.isNull()) return;
    // The whole picture, as large as the window allows, in its own proportions.
    QSize size = frame_.size().scaled(this->size(), Qt::KeepAspectRatio);
    const QRect target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, frame_);
}

void FrameMailbox::Post(QImage frame) {
    std::lock_guard<std::mutex> lock(m_);
    if (!window_) return;
    pending_ = std::move(frame);
    if (scheduled_) return;
    scheduled_ = true;
    // Delivered on the GUI thread; the mailbox outlives the call through the shared pointer.
    QMetaObject::invokeMethod(qApp, [self = shared_from_this()] { self->Deliver(); }, Qt::QueuedConnection);
}

void FrameMailbox::Detach() {
    std::lock_guard<std::mutex> lock(m_);
    window_ = nullptr;
    pending_ = QImage();
}

void FrameMailbox::Deliver() {
    QImage frame;
    VideoWindow* window;
    {
        std::lock_guard<std::mutex> lock(m_);
        scheduled_ = false;
        frame = std::move(pending_);
        pending_ = QImage();
        window = window_;
    }
    if (window && !frame.isNull()) window->ShowFrame(frame);
}

}  // namespace platform
