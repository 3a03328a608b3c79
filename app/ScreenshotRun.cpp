#include "app/ScreenshotRun.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "app/TForm3.h"
#include "platform/Services.h"

namespace {

// Screenshots of the main window in both views and of the help window.
void TakeScreenshots(const QString& folder) {
    QDir().mkpath(folder);
    auto save = [&](QWidget* w, const char* name) {
        QString path = folder + QLatin1Char('/') + QLatin1String(name);
        w->grab().save(path);
        std::printf("%s\n", path.toUtf8().constData());
    };
    auto saveScreen = [&](const char* name) {
        QString path = folder + QLatin1Char('/') + QLatin1String(name);
        if (QScreen* s = QGuiApplication::primaryScreen()) s->grabWindow(0).save(path);
        std::printf("%s\n", path.toUtf8().constData());
    };
    save(Form1, "main-list-view.png");
    {
        // The longest pattern of the extension box must show whole.
        QSignalBlocker quiet(Form1->ComboBox2);
        const QString before = Form1->ComboBox2->currentText();
        Form1->ComboBox2->setEditText(QStringLiteral("*.WMP"));
        save(Form1->ComboBox2, "extension-box-wmp.png");
        Form1->ComboBox2->setEditText(before);
    }
    Form1->SpeedButton3Click();
    QCoreApplication::processEvents();
    save(Form1, "main-launcher-view.png");
    Form1->SpeedButton4Click();
    Form1->SpeedButton6Click();
    QCoreApplication::processEvents();
    save(Form3, "help.png");
    saveScreen("screen.png");
    std::fflush(stdout);
}

}  // namespace

platform::BoxAnswer UnattendedMessageBoxes::Show(platform::BoxKind kind, const QString& text) {
    std::unique_ptr<QMessageBox> box = platform::MakeMessageBox(kind, text, QApplication::activeWindow());
    // Owned by the box: it cannot fire after the box is gone.
    QTimer::singleShot(answerAfterMs, box.get(), [this, b = box.get()] {
        if (capture) capture(*b);
        if (!b->isVisible()) return;  // answered already
        if (QAbstractButton* escape = b->escapeButton()) escape->click();
    });
    return platform::RunMessageBox(*box, kind);
}

void BeginScreenshotRun(const QString& folder) {
    QDir().mkpath(folder);
    auto boxes = std::make_unique<UnattendedMessageBoxes>();
    boxes->capture = [folder, count = 0](QMessageBox& box) mutable {
        QString path = folder + QStringLiteral("/box-%1.png").arg(++count);
        box.grab().save(path);
        std::printf("%s\n", path.toUtf8().constData());
        std::fflush(stdout);
    };
    platform::Current().boxes = std::move(boxes);
    // Whatever happens, a screenshot run ends: a run that has not finished in a minute is
    // stuck, and says so with a failure.
    QTimer::singleShot(60000, [] {
        std::fprintf(stderr, "screenshot run did not finish\n");
        std::fflush(stderr);
        std::_Exit(3);
    });
}

void TakeScreenshotsSoon(const QString& folder) {
    QTimer::singleShot(300, [folder] {
        TakeScreenshots(folder);
        QCoreApplication::exit(0);
    });
}
