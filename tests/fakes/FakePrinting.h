#pragma once
// Test double of the printer set-up dialog and printing.
#include <QImage>
#include <QString>
#include <vector>

#include "platform/Printing.h"

namespace platform {

// The dialog answers `confirm`; printed images are kept.
class FakePrinting : public Printing {
public:
    bool SetupDialog(QWidget*) override {
        ++dialogs;
        return confirm;
    }
    QString PrintImage(const QImage& image, double, double) override {
        printed.push_back(image);
        return QString();
    }
    bool confirm = true;
    int dialogs = 0;
    std::vector<QImage> printed;
};

}  // namespace platform
