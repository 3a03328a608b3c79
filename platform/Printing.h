#pragma once
// The printer set-up dialog and printing of a window's image.
#include <QImage>
#include <QString>

class QWidget;

namespace platform {

class Printing {
public:
    virtual ~Printing() = default;
    // Shows the printer set-up dialog; true when the user confirmed it.
    virtual bool SetupDialog(QWidget* parent) = 0;
    // Prints one page with `image` at the top-left corner, scaled by printer over screen
    // resolution. Returns a text for the status bar (where a PDF went), or empty.
    virtual QString PrintImage(const QImage& image, double screenDpiX, double screenDpiY) = 0;
};

}  // namespace platform
