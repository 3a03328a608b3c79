#include "platform/QtPrinting.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <stdexcept>

namespace platform {

namespace {

// The PDF writer does not report failed writes (a full disk, a file size limit): a complete
// file ends with its trailer.
bool PdfComplete(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() < 16) return false;
    f.seek(f.size() - 16);
    return f.read(16).contains("%%EOF");
}

}  // namespace

QtPrinting::QtPrinting(QString pdfFolder) : pdfFolder_(std::move(pdfFolder)) {}

QtPrinting::~QtPrinting() = default;

QPrinter& QtPrinting::Printer() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        UsePdfWhenNoPrinter();
    }
    return *printer_;
}

void QtPrinting::UsePdfWhenNoPrinter() {
    if (!QPrinterInfo::availablePrinters().isEmpty()) return;
    QString folder = pdfFolder_;
    if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    QDir().mkpath(folder);
    printer_->setOutputFormat(QPrinter::PdfFormat);
    printer_->setOutputFileName(
        QDir(folder).filePath(QStringLiteral("tessaly-%1.pdf").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmsszzz")))));
}

bool QtPrinting::SetupDialog(QWidget* parent) {
    QPrinter& printer = Printer();
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

QString QtPrinting::PrintImage(const QImage& image, double screenDpiX, double screenDpiY) {
    QPrinter& printer = Printer();
    if (printer.outputFormat() == QPrinter::PdfFormat && printer.outputFileName().isEmpty()) UsePdfWhenNoPrinter();
    QPainter painter;
    if (!painter.begin(&printer)) throw std::runtime_error("印刷を開始できません");
    // One page, the image at the page's top-left corner, as large on paper as on the screen.
    const double sx = printer.logicalDpiX() / (screenDpiX > 0 ? screenDpiX : 96.0);
    const double sy = printer.logicalDpiY() / (screenDpiY > 0 ? screenDpiY : 96.0);
    painter.drawImage(QRectF(0, 0, image.width() * sx, image.height() * sy), image);
    painter.end();
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        const QString file = printer.outputFileName();
        // The next print gets a file of its own rather than overwriting this one.
        printer.setOutputFileName(QString());
        if (!PdfComplete(file)) {
            // A cut-off PDF is no print; it would only take the space that is short.
            QFile::remove(file);
            // The PDF writer's stream stays failed once a write failed, and every later
            // print would come out empty: start afresh with a new printer.
            printer_.reset();
            throw std::runtime_error(QStringLiteral("印刷できませんでした。PDF ファイルを書き込めません: %1").arg(file).toStdString());
        }
        return QStringLiteral("PDF に印刷しました: %1").arg(file);
    }
    return QString();
}

}  // namespace platform
