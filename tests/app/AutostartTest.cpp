// Closing the main window: the autostart offer, its value and entry, and the way out.
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
