// Quick search by pattern and keyword, and what a change of the extension box does.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QGroupBox>
#include <fstream>

#include "PeakMemory.h"
#include "SearchFixture.h"

namespace {

using V = std::vector<std::string>;

class QuickSearchTest : public SearchFixture {};

TEST_F(QuickSearchTest, PatternShowsStoredListOrFallsBackToFullSearch) {
    WriteFile(Path("SearchView.MP3"), "/m/a.mp3\r\n/m/b.mp3\r\n");
    form->WMDropFiles({"/old/entry.wav"});
    SetBox("*.mp3");  // lower case names the same list
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), (V{"/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数2"));
    EXPECT_TRUE(boxes->shown.empty());

    SetBox("*.WAV");
    form->SpeedButton2Click();
    EXPECT_EQ(Confirmations(), std::vector<QString>{kFirstQuestion});
}

TEST_F(QuickSearchTest, StoredListWithHugeLinesShowsItsPathsInLittleMemory) {
    // One line of 50 MB between two paths; then two gigabytes of NUL bytes (a sparse file).
    {
        std::ofstream out(Path("SearchView.MP3"), std::ios::binary | std::ios::trunc);
        out << "/m/a.mp3\r\n";
        const std::string chunk(1 << 20, 'y');
        for (int i = 0; i < 50; ++i) out << chunk;
        out << "\r\n/m/b.mp3\r\n";
    }
    SetBox("*.MP3");
    long growth = peakmemory::GrowthKiB([&] { form->SpeedButton2Click(); });
    EXPECT_EQ(Entries(), (V{"/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数2"));
    EXPECT_LT(growth, 100 * 1024) << "KiB";

    const std::string nuls = Path("SearchView.WAV");
    WriteFile(nuls, "");
    ASSERT_EQ(::truncate(nuls.c_str(), off_t(2) << 30), 0);
    SetBox("*.WAV");
    growth = peakmemory::GrowthKiB([&] { form->SpeedButton2Click(); });
    EXPECT_LT(growth, 100 * 1024) << "KiB";
    // Nothing readable: an empty list that says so, and no full search.
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数0"));
    EXPECT_TRUE(boxes->shown.empty());
    // A keyword finds nothing inside an unreadable line and offers the search instead.
    boxes->answers = {platform::BoxAnswer::No};
    SetBox("yyy.mp3");
    form->SpeedButton2Click();
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
    EXPECT_EQ(Confirmations().size(), 1u);
}

TEST_F(QuickSearchTest, KeywordWithStoredListFiltersItOrOffersSearch) {
    WriteFile(Path("SearchView.MP3"), "/m/Piano.MP3\r\n/m/violin.mp3\r\n/x/piano.mp3/y.mp3\r\n");
    SetBox("*piano.mp3*");
    form->SpeedButton2Click();
    EXPECT_EQ(form->ComboBox2->currentText(), QStringLiteral("piano.mp3"));
    EXPECT_EQ(Entries(), (V{"/m/Piano.MP3", "/x/piano.mp3/y.mp3"}));
    EXPECT_TRUE(boxes->shown.empty());

    SetBox("cello.mp3");
    boxes->answers = {platform::BoxAnswer::No};
    form->SpeedButton2Click();
    EXPECT_EQ(Confirmations(), std::vector<QString>{QStringLiteral(
                                   "該当するファイルはありませんでした\r\n再検索をしてみますか（Y/N)?\r\n")});
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
}

TEST_F(QuickSearchTest, KeywordWithoutStoredListNarrowsTheListOnScreen) {
    form->WMDropFiles({"/a/Piano1.mp3", "/a/guitar.mp3", "/b/PIANO2.wav"});
    SetBox("piano");
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), (V{"/a/Piano1.mp3", "/b/PIANO2.wav"}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数2"));
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(QuickSearchTest, KeywordWithoutMatchBlanksEntriesAndSearchesWithItAsMask) {
    std::string r = AddDrive("R");
    File(r + "Flute");  // matched by the keyword as a whole name, without case
    File(r + "flute.mp3");
    form->WMDropFiles({"/a/one.mp3", "/a/two.mp3"});
    form->CheckListBox1->SetChecked(1, true);

    SetBox("flute");
    boxes->answers = {platform::BoxAnswer::No};
    form->SpeedButton2Click();
    // Declined: the blanks stay, in place and with their marks.
    EXPECT_EQ(Entries(), (V{"　　　　　", "　　　　　"}));
    EXPECT_TRUE(form->CheckListBox1->Checked(1));
    EXPECT_EQ(Confirmations(), std::vector<QString>{kFirstQuestion});

    boxes->answers = {platform::BoxAnswer::Yes};
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), V{r + "Flute"});
    // A keyword is no pattern: nothing stored under any name.
    for (const char* name : {"SearchView", "SearchView.MP3"}) EXPECT_FALSE(platform::PathExists(Path(name)));

    // An empty keyword is contained in no entry.
    boxes->answers = {platform::BoxAnswer::No};
    SetBox("");
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), V{"　　　　　"});
}

TEST_F(QuickSearchTest, ExtensionChangeStopsUnfinishedPlaybackAndLeavesAutoPlay) {
    // An empty list: nothing happens at all.
    form->SpeedButton5Click();
    fakes->media->Open("/m/a.mp3");
    form->ComboBox2Change();
    EXPECT_EQ(form->AutoPlay, 1);

    form->WMDropFiles({"/m/a.mp3"});
    form->Label9->SetCaption(QStringLiteral("残り40.0%"));
    form->Label9->show();
    form->MediaPlayer1->show();
    form->GroupBox1->show();
    fakes->media->calls.clear();
    form->ComboBox2Select();  // a chosen item: the volume panel stays
    EXPECT_EQ(fakes->media->calls, V{"stop"});
    EXPECT_TRUE(form->MediaPlayer1->isHidden());
    EXPECT_TRUE(form->Label9->isHidden());
    EXPECT_FALSE(form->GroupBox1->isHidden());
    EXPECT_EQ(form->AutoPlay, 0);
    EXPECT_FALSE(form->Timer1->Enabled());

    form->ComboBox2Change();  // edited text hides the volume panel too
    EXPECT_TRUE(form->GroupBox1->isHidden());

    // Played to its end, or nothing open: the player is left alone.
    for (bool open : {true, false}) {
        if (!open) fakes->media->Close();
        form->Label9->SetCaption(open ? QStringLiteral("残り0.0%") : QStringLiteral("残り50.0%"));
        fakes->media->calls.clear();
        form->SpeedButton5Click();
        form->ComboBox2Change();
        EXPECT_TRUE(fakes->media->calls.empty());
        EXPECT_EQ(form->AutoPlay, 0);
    }
}

}  // namespace
