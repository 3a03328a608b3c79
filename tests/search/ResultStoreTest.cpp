#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Fixtures.h"
#include "app/TForm1.h"
#include "platform/Exceptions.h"
#include "search/ResultStore.h"

namespace {

class ResultStoreTest : public MainWindowFixture {
protected:
};

using V = std::vector<std::string>;

TEST_F(ResultStoreTest, ExtensionsAndNames) {
    EXPECT_EQ(store::ExtensionOf("*.mp3"), ".mp3");
    EXPECT_EQ(store::ExtensionOf("a.b.Jpg"), ".Jpg");
    EXPECT_EQ(store::ExtensionOf("song"), "");
    EXPECT_EQ(store::ExtensionOf("my.dir\\song"), "");
    EXPECT_EQ(store::ExtensionOf("my.dir/song"), "");
    EXPECT_EQ(store::ExtensionOf("c.x:y"), "");
    EXPECT_EQ(store::StoredListName("*.mp3"), "SearchView.MP3");
    EXPECT_EQ(store::StoredListName("Ｍ.mp3"), "SearchView.MP3");
    EXPECT_EQ(store::StoredListName("*.äb"), "SearchView.äB");  // only a-z change case
    EXPECT_EQ(store::StoredListName("keyword"), "SearchView");
    // Long extensions: written and looked up under one name.
    EXPECT_EQ(form->StoredListPath("*.verylongextension"), dir + "/SearchView.VERYLONGEXTENSION");
}

TEST_F(ResultStoreTest, WrittenListReadsBackInOrderUnderAnySpelling) {
    form->WMDropFiles({"/m/b.mp3", "/m/My Music/a.MP3", "/m/\xe6\x9b\xb2.mp3"});
    form->CheckListBox1->SetChecked(1, true);
    form->WriteStoredList("*.mp3");  // typed in lower case
    EXPECT_EQ(ReadFile(Path("SearchView.MP3")), "/m/b.mp3\r\n/m/My Music/a.MP3\r\n/m/\xe6\x9b\xb2.mp3\r\n");
    form->CheckListBox1->Clear();
    form->ReadStoredList(form->StoredListPath("*.Mp3"), nullptr);
    EXPECT_EQ(Entries(), (V{"/m/b.mp3", "/m/My Music/a.MP3", "/m/\xe6\x9b\xb2.mp3"}));
    EXPECT_FALSE(form->CheckListBox1->Checked(1));  // marks are not stored
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数3"));
}

TEST_F(ResultStoreTest, ExistingFileInAnotherCaseIsTheOneUsed) {
    WriteFile(Path("searchview.jpg"), "/p/x.jpg\r\n");
    std::string path = form->StoredListPath("*.JPG");
    EXPECT_EQ(path, Path("searchview.jpg"));
    form->DeleteStoredList("*.jpg");
    EXPECT_FALSE(platform::PathExists(Path("searchview.jpg")));
}

TEST_F(ResultStoreTest, KeywordFilterIgnoresAsciiCaseOnly) {
    WriteFile(Path("SearchView.MP3"), "/a/Love Song.mp3\r\n/a/other.mp3\r\n/a/LOVE.MP3\r\n/a/\xef\xbc\xac" "ove.mp3\r\n");
    std::string kw = "love";
    form->ReadStoredList(Path("SearchView.MP3"), &kw);
    EXPECT_EQ(Entries(), (V{"/a/Love Song.mp3", "/a/LOVE.MP3"}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数2"));
}

TEST_F(ResultStoreTest, EmptyFileGivesOneEmptyEntry) {
    WriteFile(Path("SearchView.WAV"), "");
    form->ReadStoredList(Path("SearchView.WAV"), nullptr);
    EXPECT_EQ(Entries(), V{""});
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数1"));
}

TEST_F(ResultStoreTest, DeleteOnlyPlainFiles) {
    ::mkdir(Path("SearchView.AVI").c_str(), 0755);
    form->DeleteStoredList("*.avi");  // a folder of that name is not a stored list
    EXPECT_TRUE(platform::PathExists(Path("SearchView.AVI")));
    form->DeleteStoredList("*.mov");  // nothing there: nothing happens
}

TEST_F(ResultStoreTest, ReadFailureKeepsWhatWasAddedAndRaises) {
    form->WMDropFiles({"/kept"});
    try {
        form->ReadStoredList(Path("SearchView.MID"), nullptr);
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), 2);
        EXPECT_STREQ(e.what(), "ファイルが見つかりません");
    }
    EXPECT_EQ(Entries(), V{"/kept"});
}

TEST_F(ResultStoreTest, WriteIntoMissingFolderRaises) {
    form->WorkDir = Path("gone");
    form->WMDropFiles({"/x.mp3"});
    EXPECT_THROW(form->WriteStoredList("*.MP3"), EInOutError);
}

TEST_F(ResultStoreTest, DownloadLogOnlyGrows) {
    form->AppendDownloadLog("song1.mp3");
    form->AppendDownloadLog("曲2.mp3");
    EXPECT_EQ(ReadFile(Path("SearchView.dwn")), dir + "/song1.mp3\r\n" + dir + "/曲2.mp3\r\n");
    // The log is the stored list of ".dwn": a quick search finds it under any spelling.
    form->ReadStoredList(form->StoredListPath("*.DWN"), nullptr);
    EXPECT_EQ(Entries(), (V{dir + "/song1.mp3", dir + "/曲2.mp3"}));
}

TEST_F(ResultStoreTest, OnlyTheLogLeavesOutALastLineWithoutLineBreak) {
    struct Case {
        const char* file;
        const char* box;
        V read;
    };
    // A stored list is written whole, so its last line counts even without CR LF (made by
    // hand); the log's last line without one is an append that was cut off.
    for (const Case& k : {Case{"SearchView.MP3", "*.mp3", {"/a.mp3", "/b.mp3", "/cut"}},
                          Case{"SearchView.dwn", "*.DWN", {"/a.mp3", "/b.mp3"}},
                          Case{"searchview.DWN", "*.dwn", {"/a.mp3", "/b.mp3"}}}) {
        SCOPED_TRACE(k.file);
        WriteFile(Path(k.file), "/a.mp3\r\n/b.mp3\r\n/cut");
        form->CheckListBox1->Clear();
        form->ReadStoredList(form->StoredListPath(k.box), nullptr);
        EXPECT_EQ(Entries(), k.read);
        ::unlink(Path(k.file).c_str());
    }
}

TEST_F(ResultStoreTest, RootWorkingFolderDoublesTheSeparator) {
    form->WorkDir = "/";
    EXPECT_EQ(form->StoredListPath("*.zzqq"), "//SearchView.ZZQQ");
}

}  // namespace
