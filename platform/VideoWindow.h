#pragma once
// The media device's own video window: a top-level Qt window that paints the latest frame
// the player handed it. Plain Qt drawing, so it works under X11, Wayland and offscreen alike.
#include <QImage>
#include <QWidget>
#include <memory>
#include <mutex>

namespace platform {

class VideoWindow : public QWidget {
public:
    explicit VideoWindow(QWidget* parent = nullptr);

    // GUI thread: show `frame` (the window takes the frame's size the first time a medium
    // shows a picture, and is shown then).
    void ShowFrame(const QImage& frame);
    // Forget the medium: the window hides and waits for the next one's first frame.
    void Reset();

    const QImage& Frame() const { return frame_; }
    // Frames shown since the last Reset.
    int FramesShown() const { return frames_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage frame_;
    int frames_ = 0;
    bool placed_ = false;
};

// Frames from the player's streaming thread to its window on the GUI thread. The streaming
// thread only keeps the newest frame and asks for one delivery; if the GUI is slower than
// the video, frames in between are skipped rather than queued.
class FrameMailbox : public std::enable_shared_from_this<FrameMailbox> {
public:
    explicit FrameMailbox(VideoWindow* window) : window_(window) {}
    // Any thread.
    void Post(QImage frame);
    // GUI thread, before the window goes: later deliveries do nothing.
    void Detach();

private:
    void Deliver();

    std::mutex m_;
    VideoWindow* window_;
    QImage pending_;
    bool scheduled_ = false;
};

}  // namespace platform
