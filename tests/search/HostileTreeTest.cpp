// Full and quick searches over trees and working folders that do not play along: names
// the list format cannot hold, a disk that fills up while the list is stored.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "FileSizeLimit.h"
#include "SearchFixture.h"
#include "platform/Exceptions.h"
#include "platform/Guard.h"

namespace {

using V = std::vector<std::string>;

class HostileTreeTest : public SearchFixture {};

TEST_F(HostileTreeTest, NamesWithLineBreaksOrEndMarkNeverReachTheStoredList) {
    std::string r = AddDrive("R");
    File(r + "first.mp3");
    // A line break inside a name would read back as two entries, the second a relative
    // path; code 26 would end the data and lose every line after it.
    File(r + "evil\r\nsecond.mp3");
    File(r + "lone\rcr.mp3");
    File(r + "lone\nlf.mp3");
    File(r + "stop\x1arest.mp3");
    File(r + "evil");  // what the first half of the split line would name
    File(Dirs(r, "in\r\nfolder") + "deep.mp3");
    File(Dirs(r, "zlast") + "last.mp3");
    form->IdleSearchActive = 1;
    SetBox("*.MP3");

    form->SpeedButton1Click();
    const V searched = Entries();
    EXPECT_EQ(searched, (V{r + "first.mp3", r + "zlast/last.mp3"}));

    form->CheckListBox1->Clear();
    form->IdleSearchActive = 0;
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), searched) << "the stored list does not read back as it was found";
}

TEST_F(HostileTreeTest, FullDiskWhileStoringLeavesNoPartialList) {
    std::string r = AddDrive("R");
    // Enough long names that the list outgrows the limit part-way through a line.
    V names;
    for (int i = 0; i < 300; ++i) {
        names.push_back(r + std::string(40, 'n') + std::to_string(i) + ".mp3");
        File(names.back());
    }
    WriteFile(Path("SearchView.MP3"), "/old/list.mp3\r\n");
    boxes->answers = {platform::BoxAnswer::Yes};
    SetBox("*.MP3");
    {
        FileSizeLimit limit(4000);
        platform::Guarded([&] { form->SpeedButton1Click(); });
    }
    EXPECT_EQ(form->CheckListBox1->Count(), 300) << "the matches stay listed";
    auto errors = boxes->TextsOf(platform::BoxKind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QStringLiteral("ディスクがいっぱいです"));
    // A cut list would later show as the whole result, its last line naming a file that
    // was never found; with none stored the next quick search searches again.
    EXPECT_FALSE(platform::PathExists(Path("SearchView.MP3")));
    boxes->shown.clear();
    boxes->answers = {platform::BoxAnswer::No};
    form->SpeedButton2Click();
    EXPECT_EQ(Confirmations(), std::vector<QString>{kFirstQuestion});
}

TEST_F(HostileTreeTest, FullDiskKeepsTheDownloadLogWholeLines) {
    form->AppendDownloadLog("one.mp3");
    const std::string before = ReadFile(Path("SearchView.dwn"));
    const std::string longName = std::string(200, 's') + ".mp3";
    int code = 0;
    {
        FileSizeLimit limit(before.size() + 50);
        try {
            form->AppendDownloadLog(longName);
        } catch (const EInOutError& e) {
            code = e.Code();
        }
    }
    EXPECT_EQ(code, 101);
    // Half a line would glue itself to the next download's line.
    EXPECT_EQ(ReadFile(Path("SearchView.dwn")), before);
    form->AppendDownloadLog("two.mp3");
    EXPECT_EQ(ReadFile(Path("SearchView.dwn")), before + dir + "/two.mp3\r\n");
}

}  // namespace
