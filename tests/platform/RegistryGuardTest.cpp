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
    if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    registry->WriteString("Run", "a", "1");
    ::chmod((dir + "/config/tessaly").c_str(), 0500);
    EXPECT_THROW(registry->WriteString("Run", "b", "2"), Exception);
    ::chmod((dir + "/config/tessaly").c_str(), 0700);
    EXPECT_EQ(registry->ReadString("Run", "a", ""), "1");
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
