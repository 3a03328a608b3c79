// Closing the main window: the autostart offer, its value and entry, and the way out.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTimer>

#include "Fixtures.h"
#include "download/TForm5.h"

using platform::BoxAnswer;
using platform::BoxKind;

class Autostart : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        form->ExitProcess = [this](int code) { exitCodes.push_back(code); };
    }
    std::vector<int> exitCodes;
};

TEST_F(Autostart, DecliningWritesNothingAndAsksAgain) {
    boxes->answers = {BoxAnswer::No};
    form->FormCloseQuery();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(Form5, nullptr);
    EXPECT_EQ(boxes->TextsOf(BoxKind::Confirmation), std::vector<QString>{QStringLiteral("自動起動の設定をしますか？")});
    EXPECT_FALSE(platform::FileExists(registry->StorePath()));
    EXPECT_FALSE(platform::FileExists(registry->AutostartPath()));
    form->Button6Click();
    EXPECT_EQ(boxes->TextsOf(BoxKind::Confirmation).size(), 2u);
}

TEST_F(Autostart, AgreeingRegistersThisFolderForTheNextStart) {
    boxes->answers = {BoxAnswer::Yes};
    form->FormCloseQuery();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(registry->ReadString("Run", "_KDR_", "xx"), "\"" + dir + "/kdr.exe\"");
    std::string entry = ReadFile(registry->AutostartPath());
    EXPECT_NE(entry.find("Exec=\"/usr/bin/tessaly\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("TryExec=/usr/bin/tessaly\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Path=" + dir + "\n"), std::string::npos) << entry;

    // Never asked again; the next start works in the registered folder wherever it starts.
    boxes->shown.clear();
    form->Button6Click();
    EXPECT_TRUE(boxes->shown.empty());
    windows.reset();
    platform::SetCurrentDir("/");
    windows = std::make_unique<ApplicationWindows>();
    EXPECT_EQ(Form1->WorkDir, dir);
    EXPECT_EQ(platform::GetCurrentDir(), dir);
}

TEST_F(Autostart, AnyValueButXxCountsAsRegistered) {
    registry->WriteString("Run", "_KDR_", "");
    form->Button6Click();
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(Autostart, RefusedWriteIsShownAndTheProgramStillEnds) {
    // A file where the settings folder belongs: refused for root as well.
    WriteFile(dir + "/config", "not a folder");
    boxes->answers = {BoxAnswer::Yes};
    form->FormCloseQuery();
    EXPECT_EQ(boxes->TextsOf(BoxKind::Error).size(), 1u);
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(Form5, nullptr);
}

TEST_F(Autostart, CloseRequestEndsTheProgramThroughTheHandler) {
    form->show();
    form->close();
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(boxes->TextsOf(BoxKind::Confirmation).size(), 1u);
}

// The autostart entry as the desktop reads it: validated, and launched by GLib (gio launch,
// as session managers do) with program paths and folders full of the characters the entry
// format gives a meaning.
class AutostartEntry : public PlatformFixture {
protected:
    static std::pair<int, std::string> RunTool(const QString& program, const QStringList& args,
                                               const QString& workDir = QString()) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
        p.start(program, args);
        if (!p.waitForStarted(10000) || !p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished(5000);
            return {-1, "did not run or end: " + program.toStdString()};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll().toStdString()};
    }

    // Waits in the event loop (bounded) until `path` exists.
    static bool WaitForFile(const std::string& folder, const std::string& path) {
        if (platform::FileExists(path)) return true;
        QFileSystemWatcher watcher({QString::fromStdString(folder)});
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
            if (platform::FileExists(path)) loop.quit();
        });
        limit.start(20000);
        if (!platform::FileExists(path)) loop.exec();
        return platform::FileExists(path);
    }
};

TEST_F(AutostartEntry, ExecAndPathSurviveTheCharactersTheFormatReserves) {
    const char* names[] = {
        "plain",
        "with space",
        "quote\"d",
        "back\\slash\\",
        "per%cent%u%%",
        "dollar$HOME and `tick`",
        "all \" \\ % $ ` ' ; & | < > ~ * ? # ( ) =tab\there",
        " leading space",
        "line\nbreak",
    };
    const std::string marker = dir + "/launched";
    int n = 0;
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const std::string folder = dir + "/" + std::to_string(++n) + name;
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        // GLib looks the program up before it turns "%%" back into "%", so it cannot load an
        // entry whose program path holds one: "%" in the program's name is checked by the
        // validator below, and launched in the folder's name (Path= has no field codes).
        std::string noPercent = name;
        for (char& c : noPercent)
            if (c == '%') c = '+';
        const std::string programFolder = dir + "/" + std::to_string(n) + noPercent;
        ::mkdir(programFolder.c_str(), 0700);
        const std::string program = programFolder + "/" + noPercent + "-tessaly";
        if (noPercent != name) {
            platform::FileRegistry withPercent(dir + "/config-pct" + std::to_string(n), dir + "/autostart-pct" + std::to_string(n),
                                               folder + "/" + name + "-tessaly");
            withPercent.WriteString("Run", "_KDR_", platform::AutostartValue(folder));
            auto [code, out] = RunTool(QStringLiteral("desktop-file-validate"), {QString::fromStdString(withPercent.AutostartPath())});
            EXPECT_EQ(code, 0) << out;
            EXPECT_EQ(out, "") << ReadFile(withPercent.AutostartPath());
        }
        WriteFile(program, "#!/bin/sh\nprintf '%s\\n%s\\n' \"$0\" \"$PWD\" > '" + marker + ".new' && mv '" +
                               marker + ".new' '" + marker + "'\n");
        ASSERT_EQ(::chmod(program.c_str(), 0700), 0);

        platform::FileRegistry reg(dir + "/config" + std::to_string(n), dir + "/autostart" + std::to_string(n), program);
        reg.WriteString("Run", "_KDR_", platform::AutostartValue(folder));
        const std::string entry = ReadFile(reg.AutostartPath());
        EXPECT_NE(entry.find("\nIcon=tessaly\n"), std::string::npos) << entry;

        auto [code, out] = RunTool(QStringLiteral("desktop-file-validate"), {QString::fromStdString(reg.AutostartPath())});
        EXPECT_EQ(code, 0) << out;
        EXPECT_EQ(out, "") << entry;

        ::unlink(marker.c_str());
        auto [launchCode, launchOut] =
            RunTool(QStringLiteral("gio"), {QStringLiteral("launch"), QString::fromStdString(reg.AutostartPath())}, QDir::rootPath());
        EXPECT_EQ(launchCode, 0) << launchOut << entry;
        ASSERT_TRUE(WaitForFile(dir, marker)) << entry;
        // The program started is the one named, in the folder named.
        EXPECT_EQ(ReadFile(marker), program + "\n" + folder + "\n") << entry;
        // Once the program is gone (the package purged) the entry is passed over: TryExec
        // names the same path.
        ::unlink(marker.c_str());
        ASSERT_EQ(::unlink(program.c_str()), 0);
        auto [goneCode, goneOut] =
            RunTool(QStringLiteral("gio"), {QStringLiteral("launch"), QString::fromStdString(reg.AutostartPath())}, QDir::rootPath());
        EXPECT_NE(goneCode, 0) << goneOut << entry;
        EXPECT_FALSE(platform::FileExists(marker));
    }
}

TEST(AutostartEntryText, EscapesAsTheFormatSays) {
    struct Case {
        const char* arg;
        const char* exec;
    };
    const Case cases[] = {
        {"/usr/bin/tessaly", "\"/usr/bin/tessaly\""},
        {"/a b", "\"/a b\""},
        {"/a\"b", "\"/a\\\\\"b\""},
        {"/a\\b", "\"/a\\\\\\\\b\""},
        {"/a%b", "\"/a%%b\""},
        {"/a$b`c`", "\"/a\\\\$b\\\\`c\\\\`\""},
        {"/a\nb", "\"/a\\nb\""},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::DesktopExecArgument(c.arg), c.exec) << c.arg;
    EXPECT_EQ(platform::DesktopEntryString(" /x\\y\t"), "\\s/x\\\\y\\t");
}
