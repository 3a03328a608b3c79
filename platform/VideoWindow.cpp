#include "platform/VideoWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace platform {

VideoWindow::VideoWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void VideoWindow::ShowFrame(const QImage& frame) {
    if (frame.isNull()) return;
    frame_ = frame;
    ++frames_;
    if (!placed_) {
        // First picture of this medium: the window takes the picture's own size, centred,
        // and comes up. A user who closed it keeps it closed until the next medium.
        placed_ = true;
        resize(frame.size());
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
        }
        show();
    }
    update();
}

void VideoWindow::Reset() {
    hide();
    frame_ = QImage();
    frames_ = 0;
    placed_ = false;
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
