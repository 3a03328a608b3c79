// Where the program works: the registered folder, the data folder when started from the
// menu, or the folder it was started in.
#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include "Fixtures.h"
#include "platform/Exceptions.h"
#include "app/WorkFolder.h"

using platform::StartPlace;

namespace {

// Sets an environment variable for the length of a test (nullopt: unset) and puts it back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class WorkFolder : public PlatformFixture {
protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        ::mkdir((dir + "/home").c_str(), 0700);
        ::mkdir((dir + "/registered").c_str(), 0700);
    }
};

TEST_F(WorkFolder, ChosenByRegistrationThenStartPlace) {
    struct Case {
        const char* what;
        StartPlace place;
        bool registered;
        std::optional<std::string> dataHome;  // relative to the test folder unless absolute
        std::string expected;                 // relative to the test folder
    };
    const Case cases[] = {
        {"terminal: where it starts", StartPlace::Here, false, "data", ""},
        {"menu: the data folder, made", StartPlace::Menu, false, "data", "/data/tessaly"},
        {"menu: deeper data folder, made", StartPlace::Menu, false, "deep/er/data", "/deep/er/data/tessaly"},
        {"menu without XDG_DATA_HOME", StartPlace::Menu, false, std::nullopt, "/home/.local/share/tessaly"},
        {"menu with a relative XDG_DATA_HOME", StartPlace::Menu, false, "rel/data", "/home/.local/share/tessaly"},
        {"menu: registered wins", StartPlace::Menu, true, "data", "/registered"},
        {"terminal: registered wins", StartPlace::Here, true, "data", "/registered"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::SetCurrentDir(dir);
        std::optional<std::string> data = c.dataHome;
        if (data && (*data)[0] != '/' && *data != "rel/data") data = dir + "/" + *data;
        ScopedEnv xdg("XDG_DATA_HOME", data);
        ScopedEnv home("HOME", dir + "/home");
        const std::string runValue = platform::AutostartValue(dir + "/registered");
        fakes->registry->WriteString("Run", "_KDR_", c.registered ? runValue : "xx");
        EXPECT_EQ(platform::SettleWorkFolder(*registry, c.place), dir + c.expected);
        EXPECT_EQ(platform::GetCurrentDir(), dir + c.expected);
        // The home folder itself gets nothing but the data folders.
        EXPECT_FALSE(platform::PathExists(dir + "/home/tessaly"));
    }
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/data/tessaly").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(WorkFolder, AMenuFolderThatCannotBeMadeIsReportedAndNothingMoves) {
    WriteFile(dir + "/file", "in the way");
    for (const std::string& data : {dir + "/file", dir + "/file/below"}) {
        SCOPED_TRACE(data);
        ScopedEnv xdg("XDG_DATA_HOME", data);
        try {
            platform::SettleWorkFolder(*registry, StartPlace::Menu);
            ADD_FAILURE() << "no error";
        } catch (const EInOutError& e) {
            EXPECT_EQ(std::string(e.what()), "I/O エラー (3)");
        }
        EXPECT_EQ(platform::GetCurrentDir(), dir);
    }
}

TEST_F(WorkFolder, AGoneRegisteredFolderIsReportedAndTheMenuStillAvoidsTheHomeFolder) {
    registry->WriteString("Run", "_KDR_", platform::AutostartValue(dir + "/moved"));
    ScopedEnv xdg("XDG_DATA_HOME", dir + "/data");
    EXPECT_THROW(platform::SettleWorkFolder(*registry, StartPlace::Here), EInOutError);
    EXPECT_EQ(platform::GetCurrentDir(), dir);
    EXPECT_THROW(platform::SettleWorkFolder(*registry, StartPlace::Menu), EInOutError);
    EXPECT_EQ(platform::GetCurrentDir(), dir + "/data/tessaly");
}

TEST_F(WorkFolder, TheMainWindowWorksInTheMenuFolder) {
    ScopedEnv xdg("XDG_DATA_HOME", dir + "/data");
    platform::SetStartPlace(StartPlace::Menu);
    {
        ApplicationWindows windows;
        EXPECT_EQ(Form1->WorkDir, dir + "/data/tessaly");
        EXPECT_EQ(Form1->WorkPath("SearchView.MP3"), dir + "/data/tessaly/SearchView.MP3");
        EXPECT_TRUE(boxes->shown.empty());
    }
    platform::SetStartPlace(StartPlace::Here);
    platform::SetCurrentDir(dir);
    ApplicationWindows windows;
    EXPECT_EQ(Form1->WorkDir, dir);
}

}  // namespace
