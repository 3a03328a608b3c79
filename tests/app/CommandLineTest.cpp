// The command line: --help, --version, --menu, Qt's own options, and a start without a display.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <sstream>
#include <QTemporaryDir>
#include <vector>

#include "app/CommandLine.h"

namespace {

CommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "tessaly");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLineParse, OptionsAndIgnoredArguments) {
    using A = CommandLine::Action;
    struct Case {
        std::vector<const char*> args;
        A action;
        bool fromMenu;
        bool platformGiven;
        bool displayGiven;
        std::string display;
    };
    const Case cases[] = {
        {{}, A::Run, false, false, false, ""},
        {{"--help"}, A::Help, false, false, false, ""},
        {{"--version"}, A::Version, false, false, false, ""},
        {{"--version", "--help"}, A::Version, false, false, false, ""},
        {{"x.mp3", "--help", "--version"}, A::Help, false, false, false, ""},
        {{"--menu"}, A::Run, true, false, false, ""},
        {{"--menu", "--help"}, A::Help, true, false, false, ""},
        // Anything else is ignored, as it always was.
        {{"-h", "help", "--HELP", "--help=1", "-version", "--menux", "menu"}, A::Run, false, false, false, ""},
        {{"-display", ":7"}, A::Run, false, false, true, ":7"},
        {{"--display", "host:1.0", "--menu"}, A::Run, true, false, true, "host:1.0"},
        {{"-platform", "offscreen"}, A::Run, false, true, false, ""},
        // An option without its value is no option.
        {{"-display"}, A::Run, false, false, false, ""},
        {{"-platform"}, A::Run, false, false, false, ""},
        // The value of Qt's option is not read as one of ours.
        {{"-display", "--help"}, A::Run, false, false, true, "--help"},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const char* a : c.args) joined += std::string(a) + " ";
        SCOPED_TRACE(joined);
        const CommandLine line = Parse(c.args);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.fromMenu, c.fromMenu);
        EXPECT_EQ(line.platformGiven, c.platformGiven);
        EXPECT_EQ(line.displayGiven, c.displayGiven);
        EXPECT_EQ(line.display, c.display);
    }
}

TEST(CommandLineParse, WhetherAnXDisplayIsNeeded) {
    struct Case {
        std::vector<const char*> args;
        const char* qpa;
        const char* wayland;
        bool needed;
    };
    const Case cases[] = {
        {{}, nullptr, nullptr, true},
        {{}, "", "", true},
        {{}, "xcb", nullptr, true},
        {{}, "xcb", "wayland-0", true},
        {{}, "offscreen", nullptr, false},
        {{}, "wayland", nullptr, false},
        {{}, nullptr, "wayland-0", false},
        {{"-platform", "xcb"}, "offscreen", "wayland-0", true},
        {{"-platform", "offscreen"}, "xcb", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.qpa ? c.qpa : "(unset)") + " / " + (c.wayland ? c.wayland : "(unset)"));
        EXPECT_EQ(NeedsXDisplay(Parse(c.args), c.qpa, c.wayland), c.needed);
    }
    EXPECT_EQ(DisplayName(Parse({}), ":3"), ":3");
    EXPECT_EQ(DisplayName(Parse({}), nullptr), "");
    EXPECT_EQ(DisplayName(Parse({"-display", ":9"}), ":3"), ":9");
    EXPECT_EQ(CannotOpenDisplayLine(":3"), "tessaly: cannot open display \":3\"");
    EXPECT_EQ(CannotOpenDisplayLine(""), "tessaly: cannot open display (DISPLAY is not set)");
}

// The platform Qt is started on: the session's first, the next that can work where it
// cannot, and one plain line where none can.
TEST(CommandLineParse, PlatformChoiceFollowsTheSessionAndFallsBack) {
    PlatformFacts wayland;  // a Wayland session with Xwayland, everything installed
    wayland.waylandDisplay = "wayland-1";
    wayland.waylandPlugin = wayland.waylandReachable = true;
    wayland.xDisplay = ":0";
    wayland.xProbed = wayland.xcbPlugin = wayland.xReachable = true;
    PlatformFacts x11;  // an X session
    x11.xDisplay = ":0";
    x11.xProbed = x11.xcbPlugin = x11.xReachable = true;
    struct Case {
        const char* what;
        std::vector<const char*> args;
        const char* qpa;
        PlatformFacts facts;
        std::string platforms, failure;
    };
    auto with = [](PlatformFacts f, auto change) {
        change(f);
        return f;
    };
    const Case cases[] = {
        {"wayland session", {}, nullptr, wayland, "wayland;xcb", ""},
        {"x session", {}, nullptr, x11, "xcb", ""},
        {"no wayland plugin: Xwayland", {}, nullptr, with(wayland, [](auto& f) { f.waylandPlugin = false; }), "xcb", ""},
        {"compositor gone: Xwayland", {}, nullptr, with(wayland, [](auto& f) { f.waylandReachable = false; }), "xcb", ""},
        {"X not probed is left to Qt", {}, nullptr, with(wayland, [](auto& f) { f.xProbed = false; }), "wayland;xcb", ""},
        {"the user's list, narrowed", {}, "xcb;wayland", with(wayland, [](auto& f) { f.xReachable = false; }), "wayland",
         ""},
        {"offscreen is Qt's", {}, "offscreen", PlatformFacts{}, "offscreen", ""},
        {"-platform wins and is left as given", {"-platform", "wayland"}, "xcb", wayland, "", ""},
        {"nothing works on a wayland session", {}, nullptr,
         with(wayland, [](auto& f) { f.waylandPlugin = false, f.xReachable = false, f.xDisplay = ""; }), "",
         "tessaly: cannot open display (Wayland \"wayland-1\": Qt's Wayland platform plugin is not installed "
         "(qt6-wayland); DISPLAY is not set)"},
        {"no compositor, X refuses", {}, nullptr,
         with(wayland, [](auto& f) { f.waylandReachable = false, f.xReachable = false; }), "",
         "tessaly: cannot open display (Wayland \"wayland-1\": no compositor answers; X \":0\" does not open)"},
        {"-platform wayland without a session", {"-platform", "wayland"}, nullptr,
         with(x11, [](auto& f) { f.waylandPlugin = true; }), "",
         "tessaly: cannot open display (Wayland \"wayland-0\": no compositor answers)"},
        {"X only, as always", {}, nullptr, with(x11, [](auto& f) { f.xReachable = false; }), "",
         "tessaly: cannot open display \":0\""},
        {"no X plugin", {}, "xcb", with(x11, [](auto& f) { f.xcbPlugin = false; }), "",
         "tessaly: cannot open display (X: Qt's X11 platform plugin is not installed (qt6-qpa-plugins))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PlatformChoice choice = ChoosePlatform(Parse(c.args), c.qpa, c.facts);
        EXPECT_EQ(choice.platforms, c.platforms);
        EXPECT_EQ(choice.failure, c.failure);
    }
}

TEST(CommandLineParse, HelpInTheUsersLanguage) {
    for (const char* locale : {"ja_JP.UTF-8", "ja", "ja_JP.eucJP"})
        EXPECT_NE(HelpText(locale).find("使い方: tessaly [--menu]"), std::string::npos) << locale;
    for (const char* locale : {"", "C", "C.UTF-8", "en_US.UTF-8", "de_DE", "POSIX"})
        EXPECT_EQ(HelpText(locale).rfind("Usage: tessaly [--menu]\n", 0), 0u) << locale;
    for (const std::string& text : {HelpText("ja_JP.UTF-8"), HelpText("C")})
        for (const char* word : {"--menu", "--help", "--version", "TESSALY_DRIVES", "TESSALY_SITE", "XDG_DATA_HOME",
                                 "tessaly(1)"})
            EXPECT_NE(text.find(word), std::string::npos) << word;
    EXPECT_EQ(VersionText(), "Tessaly " TESSALY_VERSION "\n");
}

// The program itself, started as a user would, without a display unless said otherwise.
class ProgramRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }

    struct Result {
        int code = -1;
        std::string out, err;
    };
    Result Run(const QStringList& args, const std::vector<std::pair<QString, QString>>& set = {}) {
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), tmp.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), tmp.path() + QStringLiteral("/data"));
        for (const auto& [k, v] : set) env.insert(k, v);
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(tmp.path());
        run.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly"), args);
        Result r;
        if (!run.waitForStarted(10000)) return r;
        if (!run.waitForFinished(60000)) {
            run.kill();
            run.waitForFinished(5000);
            return r;
        }
        if (run.exitStatus() == QProcess::NormalExit) r.code = run.exitCode();
        r.out = run.readAllStandardOutput().toStdString();
        r.err = run.readAllStandardError().toStdString();
        return r;
    }
    QTemporaryDir tmp;
};

TEST_F(ProgramRun, HelpAndVersionPrintAndEndWithoutAWindow) {
    // No display at all: a window would fail, so these end before one is made.
    Result help = Run({QStringLiteral("--help")}, {{QStringLiteral("LANG"), QStringLiteral("C")}});
    EXPECT_EQ(help.code, 0) << help.err;
    EXPECT_EQ(help.out, HelpText("C"));
    EXPECT_EQ(help.err, "");
    Result ja = Run({QStringLiteral("--menu"), QStringLiteral("--help")},
                    {{QStringLiteral("LC_ALL"), QStringLiteral("ja_JP.UTF-8")}});
    EXPECT_EQ(ja.code, 0);
    EXPECT_EQ(ja.out, HelpText("ja_JP.UTF-8"));
    Result version = Run({QStringLiteral("--version")});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "Tessaly " TESSALY_VERSION "\n");
    // Nothing was written anywhere.
    EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

TEST_F(ProgramRun, WithoutADisplayOneLineAndExitCodeOne) {
    struct Case {
        QStringList args;
        std::vector<std::pair<QString, QString>> env;
        std::string line;
    };
    const Case cases[] = {
        {{}, {}, "tessaly: cannot open display (DISPLAY is not set)\n"},
        {{QStringLiteral("ignored.mp3")}, {}, "tessaly: cannot open display (DISPLAY is not set)\n"},
        {{}, {{QStringLiteral("DISPLAY"), QStringLiteral(":64999")}}, "tessaly: cannot open display \":64999\"\n"},
        {{}, {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")}}, "tessaly: cannot open display (DISPLAY is not set)\n"},
        {{QStringLiteral("-platform"), QStringLiteral("xcb")},
         {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")}},
         "tessaly: cannot open display (DISPLAY is not set)\n"},
        {{QStringLiteral("-display"), QStringLiteral(":64998")},
         {{QStringLiteral("DISPLAY"), QStringLiteral(":64999")}},
         "tessaly: cannot open display \":64998\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Result r = Run(c.args, c.env);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, c.line);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(ProgramRun, UnknownArgumentsAreIgnoredAndTheMenuStartWorksInTheDataFolder) {
    // The twin of the cases above: with a (virtual) display the same start runs the program.
    Result r = Run({QStringLiteral("--menu"), QStringLiteral("--frobnicate"), QStringLiteral("x.mp3")},
                   {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")},
                    {QStringLiteral("TESSALY_SCREENSHOTS"), tmp.path() + QStringLiteral("/data/shots")}});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("main-list-view.png"), std::string::npos) << r.out;
    EXPECT_TRUE(QFileInfo(tmp.path() + QStringLiteral("/data/tessaly")).isDir());
    // The home folder (the start folder) holds nothing of the program's but the base folders.
    for (const QString& name : QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        EXPECT_TRUE(name == QStringLiteral("data") || name == QStringLiteral("config") ||
                    name == QStringLiteral(".cache"))
            << name.toStdString();
}

// What the first paint does not need is not there at the first paint: the media framework
// comes with the first media open.
TEST_F(ProgramRun, NoMediaFrameworkIsMappedAtTheFirstPaint) {
    Result r = Run({}, {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")},
                        {QStringLiteral("TESSALY_REPORT_SHOWN"), QStringLiteral("1")}});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(r.out.rfind("shown\n", 0), 0u) << r.out;
    std::vector<std::string> libraries;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("library ", 0) == 0) libraries.push_back(line.substr(8));
    // The list is the real one: the window's own libraries are in it.
    EXPECT_TRUE(std::any_of(libraries.begin(), libraries.end(),
                            [](const std::string& l) { return l.find("libQt6Widgets.so") != std::string::npos; }));
    for (const std::string& library : libraries) {
        EXPECT_EQ(library.find("libgst"), std::string::npos) << library;
        EXPECT_EQ(library.find("tessaly-media"), std::string::npos) << library;
    }
}

}  // namespace
