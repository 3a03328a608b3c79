#include "app/Application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

#include "app/AppIcon.h"
#include "app/CommandLine.h"
#include "app/FailureReports.h"
#include "app/FirstPaint.h"
#include "app/Forms.h"
#include "app/ScreenshotRun.h"
#include "app/TForm1.h"
#include "platform/Fonts.h"
#include "platform/Files.h"
#include "platform/Guard.h"
#include "platform/InstanceLock.h"
#include "platform/PictureHelper.h"
#include "platform/Services.h"
#include "platform/WorkFolder.h"
#include "platform/XDisplay.h"

namespace {

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

// A later start in this working folder asked for the window.
void BringToFront() {
    if (!Form1) return;
    Form1->setWindowState((Form1->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    Form1->show();
    Form1->raise();
    Form1->activateWindow();
    if (qEnvironmentVariableIsSet("TESSALY_REPORT_INSTANCE")) {
        std::printf("front\n");
        std::fflush(stdout);
    }
}

}  // namespace

QString QtTranslationsFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

QTranslator* InstallQtTranslations(const QLocale& locale, const QString& folder) {
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    // "qt" is the catalogue that gathers Qt's modules (qtbase: dialogs, edit menus).
    if (!translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"), folder)) return nullptr;
    if (!QCoreApplication::installTranslator(translator.get())) return nullptr;
    return translator.release();
}

int RunTessaly(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
    if (line.action == CommandLine::Action::Help) {
        std::fputs(HelpText(MessagesLocale()).c_str(), stdout);
        return 0;
    }
    if (line.action == CommandLine::Action::Version) {
        std::fputs(VersionText().c_str(), stdout);
        return 0;
    }
    // Qt would abort with a message of its own; say it in one line and fail plainly.
    if (NeedsXDisplay(line, std::getenv("QT_QPA_PLATFORM"), std::getenv("WAYLAND_DISPLAY"))) {
        const std::string display = DisplayName(line, std::getenv("DISPLAY"));
        if (!platform::CanOpenXDisplay(display)) {
            std::fprintf(stderr, "%s\n", CannotOpenDisplayLine(display).c_str());
            return 1;
        }
    }
    platform::SetStartPlace(line.fromMenu ? platform::StartPlace::Menu : platform::StartPlace::Here);
    // Past a file-size limit a write then fails and is reported like a full disk, instead
    // of the signal ending the program with its list, playback and downloads.
    std::signal(SIGXFSZ, SIG_IGN);
    platform::GuardedApplication app(argc, argv);
    // The application title. Not the display name: Qt would append it to every window title.
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QApplication::setWindowIcon(AppIcon());
    InstallQtTranslations(QLocale(), QtTranslationsFolder());
    platform::InstallFontSubstitutes();
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());
    InstallFailureReports();

    const QString shots = qEnvironmentVariable("TESSALY_SCREENSHOTS");
    if (!shots.isEmpty()) BeginScreenshotRun(shots);

    // Declared first so that the lock outlives everything the windows do at the end.
    platform::SingleInstance instance;
    ApplicationWindows windows(ApplicationWindows::Start::MainWindowFirst);
    // The working folder is settled now: one program per folder from here on.
    if (!instance.Claim(platform::GetCurrentDir(), BringToFront)) return 0;
    if (qEnvironmentVariableIsSet("TESSALY_REPORT_INSTANCE")) {
        std::printf("instance %ld\n", static_cast<long>(::getpid()));
        std::fflush(stdout);
    }
    Form1->show();
    // What the first picture of the main window does not need follows it: the windows not
    // shown at start, the desktop-wide key watch and the picture helper, ready for the first
    // picture. No handler that needs them runs before: the timers that use them tick
    // seconds after the start, and clicks come after the paint. The fallback covers a
    // window that starts minimized and so is not painted.
    AfterFirstPaint(Form1, 500, [&windows] {
        windows.CreateHiddenWindows();
        if (auto* keys = dynamic_cast<platform::DeferredKeyState*>(platform::Current().keys.get())) keys->Make();
        platform::PreparePictureHelper();
    });

    if (!shots.isEmpty()) {
        // The help window is among the shots, painted or not.
        windows.CreateHiddenWindows();
        TakeScreenshotsSoon(shots);
    }
    if (qEnvironmentVariableIsSet("TESSALY_REPORT_SHOWN")) {
        // Start-up measurement: say when the main window has been painted, then leave.
        AfterFirstPaint(Form1, -1, ReportShownAndQuit);
    }
    return app.exec();
}
