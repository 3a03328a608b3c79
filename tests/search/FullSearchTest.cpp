// The full disk search over real temporary trees standing in for the fixed disks.
#include <gtest/gtest.h>

#include "SearchFixture.h"
#include "platform/Exceptions.h"
#include "platform/Guard.h"

namespace {

using V = std::vector<std::string>;

class FullSearchTest : public SearchFixture {};

TEST_F(FullSearchTest, ListsMatchesLevelByLevelAcrossDrivesAndStoresThem) {
    std::string a = AddDrive("A"), b = AddDrive("B");
    File(a + "a1.mp3");
    File(a + "notes.txt");
    File(b + "b1.Mp3");
    std::string a1 = Dirs(a, "music");
    File(a1 + "s1.MP3");
    std::string a2 = Dirs(a1, "deep");
    File(a2 + "d.mp3");
    std::string b1 = Dirs(b, "songs");
    File(b1 + "bs.mp3");
    boxes->answers = {platform::BoxAnswer::Yes};
    SetBox("*.mp3");

    form->SpeedButton1Click();

    const V expected{a + "a1.mp3", b + "b1.Mp3", a1 + "s1.MP3", b1 + "bs.mp3", a2 + "d.mp3"};
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数5"));
    EXPECT_EQ(Confirmations(), std::vector<QString>{kFirstQuestion});
    EXPECT_EQ(Informations(), std::vector<QString>{kCompleted});
    EXPECT_FALSE(Form4->isVisible());
    std::string stored;
    for (const auto& e : expected) stored += e + "\r\n";
    EXPECT_EQ(ReadFile(Path("SearchView.MP3")), stored);
    // Each folder is read once, both passes served from that read.
    EXPECT_EQ(fakes->drives->reads, 5);
}

TEST_F(FullSearchTest, HiddenDottedLinkedAndMountedEntriesAreLeftOut) {
    std::string r = AddDrive("R");
    File(r + ".hidden.mp3");
    File(r + "ok.mp3");
    Dir(r + "folder.mp3");  // a folder is never a match
    File(Dirs(r, ".cache") + "in-hidden.mp3");
    File(Dirs(r, "My.Folder") + "in-dotted.mp3");
    File(Dirs(r, "mnt") + "other-disk.mp3");
    fakes->drives->mountPoints.insert(r + "mnt/");
    ASSERT_EQ(::symlink(r.c_str(), (r + "loop").c_str()), 0);
    ASSERT_EQ(::symlink((r + "ok.mp3").c_str(), (r + "link.mp3").c_str()), 0);
    // A plain file without a dot is taken along like a folder; reading it gives nothing.
    File(r + "README");
    std::string name = "\xff\xfe-\x82\xa0.mp3";  // not UTF-8: kept byte for byte
    File(r + name);
    form->IdleSearchActive = 1;
    SetBox("*.MP3");

    form->SpeedButton1Click();

    V got = Entries();
    std::sort(got.begin(), got.end());
    V want{r + "ok.mp3", r + name};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    std::string stored = ReadFile(Path("SearchView.MP3"));
    EXPECT_NE(stored.find(r + name + "\r\n"), std::string::npos);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(FullSearchTest, UnreadableFolderIsSkippedSilently) {
    std::string a = AddDrive("A"), b = AddDrive("B");
    std::string locked = Dirs(a, "locked");
    File(locked + "hidden-from-us.mp3");
    File(Dirs(locked, "below") + "never.mp3");
    File(Dirs(a, "open") + "seen.mp3");
    File(b + "b.mp3");
    fakes->drives->unreadable.insert(locked);
    form->IdleSearchActive = 1;

    form->SpeedButton1Click();

    EXPECT_EQ(Entries(), (V{b + "b.mp3", a + "open/seen.mp3"}));
    EXPECT_TRUE(platform::FileExists(Path("SearchView.MP3")));
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(FullSearchTest, SeventeenLevelsAtMost) {
    // Levels 0 to 16 are searched; a folder at level 17 makes the walk end interrupted.
    std::string r = AddDrive("R");
    std::string at = r;
    for (int level = 1; level <= 16; ++level) {
        at = Dirs(at, "l" + std::to_string(level));
        File(at + "f" + std::to_string(level) + ".mp3");
    }
    WriteFile(Path("SearchView.MP3"), "old\r\n");
    boxes->answers = {platform::BoxAnswer::Yes};
    form->SpeedButton1Click();
    EXPECT_EQ(form->CheckListBox1->Count(), 16);
    EXPECT_EQ(Informations(), std::vector<QString>{kCompleted});
    EXPECT_TRUE(platform::FileExists(Path("SearchView.MP3")));

    Dir(at + "l17");
    boxes->shown.clear();
    boxes->answers = {platform::BoxAnswer::Yes};
    form->SpeedButton1Click();
    EXPECT_EQ(form->CheckListBox1->Count(), 16);
    EXPECT_EQ(form->CheckListBox1->Text(15), at + "f16.mp3");
    EXPECT_EQ(Informations(), std::vector<QString>{kInterrupted});
    EXPECT_FALSE(platform::PathExists(Path("SearchView.MP3")));
    EXPECT_FALSE(Form4->isVisible());
}

TEST_F(FullSearchTest, EndsWithoutStoredListWhenDeclinedOrNothingFound) {
    std::string r = AddDrive("R");
    File(r + "a.wav");
    WriteFile(Path("SearchView.MP3"), "old\r\n");
    form->WMDropFiles({"/kept/one.mp3"});
    SetBox("*.MP3");

    // Declined: the list on screen and the stored list stay as they were.
    boxes->answers = {platform::BoxAnswer::No};
    form->SpeedButton1Click();
    EXPECT_EQ(Entries(), V{"/kept/one.mp3"});
    EXPECT_EQ(Informations(), std::vector<QString>{kInterrupted});
    EXPECT_EQ(ReadFile(Path("SearchView.MP3")), "old\r\n");
    EXPECT_FALSE(Form4->isVisible());

    // Nothing found: an empty list, the sorry message, still nothing stored.
    WriteFile(Path("SearchView.MP3"), "old\r\n");
    boxes->shown.clear();
    boxes->answers = {platform::BoxAnswer::Yes};
    form->SpeedButton1Click();
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
    EXPECT_EQ(Informations(), std::vector<QString>{kNothing});
    EXPECT_FALSE(platform::PathExists(Path("SearchView.MP3")));

    // Unattended, nothing found: no box at all.
    boxes->shown.clear();
    form->IdleSearchActive = 1;
    form->SpeedButton1Click();
    EXPECT_TRUE(boxes->shown.empty());
}

// The stored list is what the quick search shows: it goes only once the search will run.
TEST_F(FullSearchTest, StoredListIsDeletedOnlyAfterYesOrUnattended) {
    std::string r = AddDrive("R");
    std::string at = r;
    for (int level = 1; level <= 17; ++level) at = Dirs(at, "l" + std::to_string(level));  // ends interrupted
    File(r + "a.mp3");
    SetBox("*.MP3");
    bool storedWhileAsked = false;
    boxes->whileWaiting = [&](const platform::FakeMessageBoxes::Shown& box) {
        if (box.kind == platform::BoxKind::Confirmation) storedWhileAsked = platform::FileExists(Path("SearchView.MP3"));
    };
    struct Case {
        const char* what;
        int idle;
        platform::BoxAnswer answer;
        bool kept;
    } cases[] = {
        {"いいえ: the list stays", 0, platform::BoxAnswer::No, true},
        {"はい: gone before the walk, which then stores nothing", 0, platform::BoxAnswer::Yes, false},
        {"unattended: gone without a question", 1, platform::BoxAnswer::No, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(Path("SearchView.MP3"), "/old/one.mp3\r\n");
        storedWhileAsked = false;
        boxes->shown.clear();
        boxes->answers = {c.answer};
        form->IdleSearchActive = c.idle;
        form->SpeedButton1Click();
        EXPECT_EQ(platform::FileExists(Path("SearchView.MP3")), c.kept);
        EXPECT_EQ(storedWhileAsked, c.idle == 0);
        if (c.kept) {
            // The quick search still finds it.
            form->SpeedButton2Click();
            EXPECT_EQ(Entries(), V{"/old/one.mp3"});
        }
    }
    form->IdleSearchActive = 0;
}

TEST_F(FullSearchTest, StoreWriteFailureIsReportedAfterListing) {
    std::string r = AddDrive("R");
    File(r + "a.mp3");
    Dir(Path("SearchView.MP3"));  // a folder where the list file should go
    boxes->answers = {platform::BoxAnswer::Yes};
    platform::Guarded([&] { form->SpeedButton1Click(); });
    EXPECT_EQ(Entries(), V{r + "a.mp3"});
    ASSERT_EQ(boxes->shown.size(), 3u);
    EXPECT_EQ(boxes->shown[1].text, kCompleted);
    EXPECT_EQ(boxes->shown[2].kind, platform::BoxKind::Error);
}

TEST_F(FullSearchTest, CountLimitAsksAgainAndCanStop) {
    std::string r = AddDrive("R");
    for (int i = 0; i < 6; ++i) File(r + "s" + std::to_string(i) + ".mp3");
    form->SearchLimit = 2;
    boxes->answers = {platform::BoxAnswer::Yes, platform::BoxAnswer::Yes, platform::BoxAnswer::No};
    form->SpeedButton1Click();
    // Asked when the third match passes the limit, and again three matches after the Yes.
    EXPECT_EQ(Confirmations().size(), 3u);
    EXPECT_EQ(form->CheckListBox1->Count(), 6);
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数6(3/2)"));
    EXPECT_EQ(Informations(), std::vector<QString>{kInterrupted});
    EXPECT_FALSE(platform::PathExists(Path("SearchView.MP3")));
}

}  // namespace
