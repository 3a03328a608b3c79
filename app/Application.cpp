#include "app/Application.h"

#include <QDir>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/AppIcon.h"
#include "app/Forms.h"
#include "app/TForm1.h"
#include "app/TForm3.h"
#include "platform/Fonts.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace {

// Screenshots of the main window in both views and of the help window, for a look at the
// program on a machine without a screen (TESSALY_SCREENSHOTS=folder).
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

// Says "shown" once the main window has been painted the first time, then ends the loop.
class FirstPaintReporter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && !done_) {
            done_ = true;
            QTimer::singleShot(0, [] {
                std::printf("shown\n");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool done_ = false;
};

}  // namespace

int RunTessaly(int argc, char** argv) {
    platform::GuardedApplication app(argc, argv);
    // The application title. Not the display name: Qt would append it to every window title.
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QApplication::setWindowIcon(AppIcon());
    platform::InstallFontSubstitutes();
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());

    ApplicationWindows windows;
    Form1->show();

    const QString shots = qEnvironmentVariable("TESSALY_SCREENSHOTS");
    if (!shots.isEmpty()) {
        QTimer::singleShot(300, [shots] {
            TakeScreenshots(shots);
            QCoreApplication::exit(0);
        });
    }
    if (qEnvironmentVariableIsSet("TESSALY_REPORT_SHOWN")) {
        // Start-up measurement: say when the main window has been painted, then leave.
        Form1->installEventFilter(new FirstPaintReporter(Form1));
    }
    return app.exec();
}
