#pragma once
// Printing through Qt Print Support: CUPS printers, or a PDF file when there is none.
#include <QString>
#include <memory>

#include "platform/Printing.h"

class QPrinter;

namespace platform {

class QtPrinting : public Printing {
public:
    // `pdfFolder`: where PDF files go when no printer is installed (empty: the user's
    // documents folder).
    explicit QtPrinting(QString pdfFolder = QString());
    ~QtPrinting() override;
    bool SetupDialog(QWidget* parent) override;
    QString PrintImage(const QImage& image, double screenDpiX, double screenDpiY) override;

    // The printer as set up so far (a PDF file when no printer is installed).
    QPrinter& Printer();

private:
    void UsePdfWhenNoPrinter();
    QString pdfFolder_;
    std::unique_ptr<QPrinter> printer_;
};

}  // namespace platform
