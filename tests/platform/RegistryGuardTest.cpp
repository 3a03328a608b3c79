#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPushButton>
#include <QEventLoop>
#include <QTimer>

#include "Fixtures.h"
#include "platform/Exceptions.h"
#include "platform/Guard.h"
#include "platform/Registry.h"

namespace {

class RegistryGuardTest : public PlatformFixture {};

TEST_F(RegistryGuardTest, ValuesSurviveAndAutostartEntryIsWritten) {
    EXPECT_EQ(registry->ReadString("Run", "_KDR_", "xx"), "xx");
    registry->WriteString("Other", "k", "tab\tand\\back\nline");
    registry->WriteString("Run", "_KDR_", "\"/home/u/ta$`ls`/kdr.exe\"");
    platform::FileRegistry again(dir + "/config/tessaly", dir + "/config/autostart", "/usr/bin/tessaly");
    EXPECT_EQ(again.ReadString("Run", "_KDR_", "xx"), "\"/home/u/ta$`ls`/kdr.exe\"");
    EXPECT_EQ(again.ReadString("Other", "k", ""), "tab\tand\\back\nline");
    EXPECT_EQ(again.ReadString("Run", "other", "d"), "d");
    std::string entry = ReadFile(registry->AutostartPath());
    EXPECT_NE(entry.find("Exec=\"/usr/bin/tessaly\"\n"), std::string::npos);
    EXPECT_NE(entry.find("Path=/home/u/ta$`ls`\n"), std::string::npos);
    // An empty value is a registration too, distinct from absence.
    registry->WriteString("Run", "_KDR_", "");
    EXPECT_EQ(registry->ReadString("Run", "_KDR_", "xx"), "");
}

TEST_F(RegistryGuardTest, RefusedWriteRaisesAndKeepsOldValues) {
    registry->WriteString("Run", "a", "1");
    // A folder where the new store file would go refuses the write, also for root.
    ASSERT_EQ(::mkdir(platform::ReplaceTempPath(registry->StorePath()).c_str(), 0755), 0);
    EXPECT_THROW(registry->WriteString("Run", "b", "2"), Exception);
    EXPECT_EQ(registry->ReadString("Run", "a", ""), "1");
    EXPECT_EQ(registry->ReadString("Run", "b", "none"), "none");
}

TEST_F(RegistryGuardTest, AutostartValueAndItsFolder) {
    EXPECT_EQ(platform::AutostartValue("/home/u/tools"), "\"/home/u/tools/kdr.exe\"");
    EXPECT_EQ(platform::AutostartFolder("\"/home/u/tools/kdr.exe\""), "/home/u/tools");
    // At the root the value holds two separators; the folder read back is the root.
    EXPECT_EQ(platform::AutostartValue("/"), "\"//kdr.exe\"");
    EXPECT_EQ(platform::AutostartFolder(platform::AutostartValue("/")), "/");
    // Not validated: the first character and the last nine go, whatever they are.
    EXPECT_EQ(platform::AutostartFolder("<folder>123456789"), "folder>");
    EXPECT_EQ(platform::AutostartFolder("0123456789"), "");
    EXPECT_EQ(platform::AutostartFolder(""), "");
    // The autostart entry starts the program in the folder the value names.
    registry->WriteString("Run", "_KDR_", platform::AutostartValue("/srv/曲 dir"));
    EXPECT_NE(ReadFile(registry->AutostartPath()).find("Path=/srv/曲 dir\n"), std::string::npos);
}

TEST_F(RegistryGuardTest, RefusedWriteUnderAFileRaises) {
    WriteFile(Path("blocker"), "x");
    platform::FileRegistry bad(Path("blocker") + "/tessaly", Path("blocker") + "/autostart", "p");
    EXPECT_THROW(bad.WriteString("Run", "_KDR_", "v"), Exception);
}

TEST_F(RegistryGuardTest, GuardShowsTheMessageAndTheProgramGoesOn) {
    bool after = false;
    platform::Guarded([] { throw EInOutError(101, "ディスクがいっぱいです"); });
    platform::Guarded([&] { after = true; });
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].kind, platform::BoxKind::Error);
    EXPECT_EQ(boxes->shown[0].caption, QStringLiteral("エラー"));
    EXPECT_EQ(boxes->shown[0].text, QStringLiteral("ディスクがいっぱいです"));
    EXPECT_TRUE(after);
}

TEST_F(RegistryGuardTest, ExceptionFromAnEventHandlerReachesTheErrorBox) {
    // The application object catches what a slot lets escape, and the loop goes on.
    ASSERT_NE(dynamic_cast<platform::GuardedApplication*>(QCoreApplication::instance()), nullptr);
    QEventLoop loop;
    QTimer::singleShot(0, [] { throw Exception("handler failed"); });
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_EQ(boxes->TextsOf(platform::BoxKind::Error).size(), 1u);
    EXPECT_EQ(boxes->TextsOf(platform::BoxKind::Error)[0], QStringLiteral("handler failed"));
}

TEST_F(RegistryGuardTest, CaptionsOfTheBoxKinds) {
    EXPECT_EQ(platform::CaptionFor(platform::BoxKind::Confirmation), QStringLiteral("確認"));
    EXPECT_EQ(platform::CaptionFor(platform::BoxKind::Information), QStringLiteral("情報"));
    EXPECT_EQ(platform::CaptionFor(platform::BoxKind::Error), QStringLiteral("エラー"));
    boxes->answers = {platform::BoxAnswer::Yes};
    EXPECT_EQ(boxes->Show(platform::BoxKind::Confirmation, "q"), platform::BoxAnswer::Yes);
    EXPECT_EQ(boxes->Show(platform::BoxKind::Confirmation, "q"), platform::BoxAnswer::No);
    EXPECT_EQ(boxes->Show(platform::BoxKind::Information, "i"), platform::BoxAnswer::Ok);
}

}  // namespace
