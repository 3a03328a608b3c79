#pragma once
// The picture viewer window.
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <string>

#include "platform/Desktop.h"

#include "player/PictureBox.h"

class TForm6 : public QWidget {
    Q_OBJECT
public:
    // The frame around the client area, as on the main window.

    explicit TForm6(QWidget* parent = nullptr);
    QSize OuterSize() const { return platform::OuterSizeOf(size()); }

    TImage* Image1;  // the picture, fitted to the window
    QToolButton* PrintBtn;  // prints the picture

    void FormCreate();
    void FormResize();
    void PrintBtnClick();

    // The picture box's size in device pixels: what a picture needs to show sharp in it.
    QSize PicturePixels() const;
    // A box of `box` logical pixels on a screen of `ratio` device pixels to one, in device pixels.
    static QSize DevicePixels(QSize box, qreal ratio);
    // Shows `picture`. `reducedFrom` names the JPEG when the picture is a reduced decode of
    // it: a box enlarged past its pixels then gets it decoded again at the new size.
    void ShowPicture(const platform::Picture& picture, const std::string& reducedFrom = {});
    // Whether a decode for a larger box waits for the resizing to settle.
    bool ResizePending() const { return settle_.isActive(); }
    // The resizing has settled: the picture again at the box's size, when it needs more
    // pixels than it has. Waits in the event loop; the window goes on answering.
    void ResizeSettled();
    // How long the size must stay still before the picture is decoded again.
    static constexpr int kSettleMs = 250;

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    bool NeedsMorePixels() const;

    std::string reducedFrom_;
    // Counts the pictures shown, so that a decode for an old size does not cover a newer picture.
    unsigned shown_ = 0;
    QTimer settle_;  // resize settling, 250 ms, single shot
};
