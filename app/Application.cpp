#include "app/Application.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <functional>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <vector>

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
#include "platform/Input.h"
#include "app/InstanceLock.h"
#include "pictures/PictureHelper.h"
#include "platform/Services.h"
#include "app/WorkFolder.h"
#include "platform/input/Wayland.h"
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

// Waits a moment for the window to become the active one after an activation request;
// where the desktop keeps it behind, marks it as wanting attention. Answers once.
class ActivationWatch : public QObject {
public:
    ActivationWatch(QWidget* window, std::function<void(platform::FrontOutcome)> answer)
        : QObject(window), window_(window), answer_(std::move(answer)) {
        window->installEventFilter(this);
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, [this] { Finish(false); });
        deadline_.start(1500);
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::WindowActivate || e->type() == QEvent::ActivationChange) {
            // Under X the window manager sets its word a moment after the focus moved.
            const int settle = QGuiApplication::platformName() == QLatin1String("xcb") ? 300 : 0;
            if (window_->isActiveWindow()) QTimer::singleShot(settle, this, [this] { Finish(true); });
        }
        return false;
    }
    void Finish(bool active) {
        if (done_) return;
        done_ = true;
        // Under X the window manager's word counts: X focus given directly (Xwayland lets a
        // client take it) is no window in front.
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            const int wm = platform::WindowManagerActive(platform::x11::QtDisplayName(), window_->winId());
            if (wm >= 0) active = wm == 1;
        }
        deadline_.stop();
        window_->removeEventFilter(this);
        auto outcome = platform::FrontOutcome::Active;
        if (!active) {
            QApplication::alert(window_, 0);
            // Only X has a mark for it that the program sets itself; a Wayland compositor
            // decides on its own what a refused activation shows.
            outcome = QGuiApplication::platformName() == QLatin1String("xcb") ? platform::FrontOutcome::Attention
                                                                              : platform::FrontOutcome::Behind;
        }
        if (qEnvironmentVariableIsSet("TESSALY_REPORT_INSTANCE")) {
            const char* word = outcome == platform::FrontOutcome::Active      ? "active"
                               : outcome == platform::FrontOutcome::Attention ? "attention"
                                                                              : "behind";
            std::printf("front %s\n", word);
            std::fflush(stdout);
        }
        if (answer_) answer_(outcome);
        deleteLater();
    }

private:
    QWidget* window_;
    std::function<void(platform::FrontOutcome)> answer_;
    QTimer deadline_;
    bool done_ = false;
};

// A later start in this working folder asked for the window, with the activation token its
// launcher gave it (may be empty).
void BringToFront(const std::string& token, std::function<void(platform::FrontOutcome)> answer) {
    if (!Form1) {
        answer(platform::FrontOutcome::NoAnswer);
        return;
    }
    if (qEnvironmentVariableIsSet("TESSALY_REPORT_INSTANCE")) {
        std::printf("front\n");
        std::fflush(stdout);
    }
    auto* watch = new ActivationWatch(Form1, std::move(answer));
    Form1->setWindowState(Form1->windowState() & ~Qt::WindowMinimized);
    Form1->show();
    Form1->raise();
    if (Form1->isActiveWindow()) {
        watch->Finish(true);
        return;
    }
    // Qt's Wayland platform hands this token to the compositor with the activation request;
    // without one, a Wayland compositor decides by itself (most mark the window instead).
    if (!token.empty()) qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token));
    Form1->activateWindow();
}

// True when Qt's platform plugin of this kind ("xcb", "wayland") is installed where Qt looks.
bool PlatformPluginPresent(const std::string& kind) {
    QStringList dirs;
    for (const char* var : {"QT_QPA_PLATFORM_PLUGIN_PATH"})
        for (const QString& d : qEnvironmentVariable(var).split(QLatin1Char(':'), Qt::SkipEmptyParts)) dirs << d;
    for (const QString& d : qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs << d + QStringLiteral("/platforms");
    dirs << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    const QStringList files = kind == "xcb" ? QStringList{QStringLiteral("libqxcb.so")}
                                            : QStringList{QStringLiteral("libqwayland-generic.so"),
                                                          QStringLiteral("libqwayland-egl.so")};
    for (const QString& d : dirs)
        for (const QString& f : files)
            if (QFileInfo::exists(d + QLatin1Char('/') + f)) return true;
    return false;
}

// `xProbe` keeps the probe's connection to the X display, for the caller to close once Qt's
// own is up.
PlatformFacts GatherPlatformFacts(const CommandLine& line, std::unique_ptr<platform::XDisplayProbe>& xProbe) {
    PlatformFacts facts;
    facts.waylandDisplay = platform::wayland::SessionDisplay();
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    const std::string asked = line.platformGiven ? line.platform : (qpa ? qpa : "");
    const bool askedWayland = asked.find("wayland") != std::string::npos;
    if (!facts.waylandDisplay.empty() || askedWayland) {
        facts.waylandPlugin = PlatformPluginPresent("wayland");
        const std::string name = facts.waylandDisplay.empty() ? "wayland-0" : facts.waylandDisplay;
        facts.waylandReachable = facts.waylandPlugin && platform::wayland::CanConnect(name);
    }
    facts.xDisplay = DisplayName(line, std::getenv("DISPLAY"));
    // Only where X is needed: the start pays for no connection it does not use, and a
    // compositor that starts Xwayland on demand is not made to.
    const bool xNeeded = asked.empty() ? !facts.waylandReachable : asked.find("xcb") != std::string::npos;
    if (xNeeded || NeedsXDisplay(line, qpa, facts.waylandDisplay.c_str())) {
        facts.xProbed = true;
        facts.xcbPlugin = PlatformPluginPresent("xcb");
        if (facts.xcbPlugin) {
            xProbe = std::make_unique<platform::XDisplayProbe>(facts.xDisplay);
            facts.xReachable = xProbe->Opened();
        }
    }
    return facts;
}

// The launcher's activation token, else on a Wayland session one asked of the compositor:
// what lets the running copy's window come to the front for this start.
std::string ActivationTokenForFront() {
    const QByteArray given = qgetenv("XDG_ACTIVATION_TOKEN");
    if (!given.isEmpty()) return given.toStdString();
    return platform::wayland::RequestActivationToken(platform::wayland::SessionDisplay(), 1000);
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
    // Qt would abort with a message of its own where no platform works; say it in one line
    // and fail plainly. Where the session's own platform cannot work (no Wayland plugin,
    // no compositor), the next one that can is taken.
    std::unique_ptr<platform::XDisplayProbe> xProbe;
    const PlatformChoice choice = ChoosePlatform(line, std::getenv("QT_QPA_PLATFORM"), GatherPlatformFacts(line, xProbe));
    if (!choice.failure.empty()) {
        std::fprintf(stderr, "%s\n", choice.failure.c_str());
        return 1;
    }
    // Given to Qt as its own option, so that programs started from the list do not inherit it.
    std::vector<char*> args(argv, argv + argc);
    std::string platformOption = "-platform", platforms = choice.platforms;
    if (!platforms.empty()) {
        args.push_back(platformOption.data());
        args.push_back(platforms.data());
    }
    args.push_back(nullptr);
    argc = static_cast<int>(args.size()) - 1;
    argv = args.data();
    platform::SetStartPlace(line.fromMenu ? platform::StartPlace::Menu : platform::StartPlace::Here);
    // Past a file-size limit a write then fails and is reported like a full disk, instead
    // of the signal ending the program with its list, playback and downloads.
    std::signal(SIGXFSZ, SIG_IGN);
    platform::GuardedApplication app(argc, argv);
    // Qt's connection is up: the probe's may go without the server resetting under it.
    xProbe.reset();
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
    if (!instance.Claim(platform::GetCurrentDir(), BringToFront, ActivationTokenForFront)) return 0;
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
