#pragma once
// The media device's own video window: a top-level Qt window that paints the latest frame
// the player handed it. Plain Qt drawing, so it works under X11, Wayland and offscreen alike.
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <memory>
#include <mutex>

namespace platform {

class VideoWindow : public QWidget {
public:
    explicit VideoWindow(QWidget* parent = nullptr);

    // GUI thread: show `frame`. The window comes up once the medium plays (Reveal), at the
    // size of its first picture.
    void ShowFrame(const QImage& frame);
    // The medium plays: the window comes up with its picture, or with the first one to come.
    // It never takes the keyboard focus.
    void Reveal();
    // Forget the medium: the window hides and waits for the next one to play.
    void Reset();

    // The controls the window must not cover (the main window's player buttons); the window
    // goes beside their window.
    static void KeepClearOf(QWidget* controls);

    const QImage& Frame() const { return frame_; }
    // Frames shown since the last Reset.
    int FramesShown() const { return frames_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;

private:
    void ComeUp();

    QImage frame_;
    int frames_ = 0;
    bool placed_ = false;
    bool revealed_ = false;
    // The window that was active when this one came up.
    QPointer<QWidget> giveBack_;
};

// Where a window of `size` goes: inside `area` (shrunk to fit it, in its proportions),
// beside `owner` (the right side first, then left, below, above) so that it covers none of
// it; when no side has room, shrunk into the largest free strip beside it; when that leaves
// too small a picture, where it covers least of `controls`.
QRect VideoPlacement(QSize size, const QRect& owner, const QRect& controls, const QRect& area);

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
