// A full search of a machine's disks: the operating system's own trees at the top of the
// root file system are neither listed nor entered, so the walk completes and stores.
#include <gtest/gtest.h>

#include "SearchFixture.h"

namespace {

using V = std::vector<std::string>;

class SystemTreesTest : public SearchFixture {
protected:
    // A fake root file system: system trees holding matches and a folder chain deeper
    // than the walk goes, beside the user's folders.
    void MakeRoot(const std::string& root) {
        for (const char* tree : {"usr/lib", "etc", "var/cache", "lib64", "lib", "libx32", "lost+found", "tmp",
                                 "proc", "sys", "dev", "run", "boot", "opt", "snap", "sbin", "bin"})
            File(Dirs(root, tree) + "system.mp3");
        std::string deep = "usr/lib/python3";
        for (int i = 0; i < 20; ++i) deep += "/d" + std::to_string(i);
        File(Dirs(root, deep) + "deepest.mp3");
        File(root + "top.mp3");
        for (const char* user : {"home/ann", "root", "srv", "mnt/disk", "media/cd", "library", "data/usr"})
            File(Dirs(root, user) + "user.mp3");
    }
};

TEST_F(SystemTreesTest, RootFileSystemSearchSkipsSystemTreesCompletesAndStores) {
    const std::string root = AddDrive("root");
    fakes->drives->systemRoot = root;
    MakeRoot(root);
    // Another disk: same-named folders there are the user's, except the disk's own
    // lost+found at its top.
    const std::string disk = AddDrive("disk");
    File(Dirs(disk, "usr") + "other.mp3");
    File(Dirs(disk, "etc") + "other.mp3");
    File(Dirs(disk, "lost+found") + "lost.mp3");
    File(Dirs(disk, "music/lost+found") + "kept.mp3");
    form->IdleSearchActive = 1;
    SetBox("*.MP3");

    form->SpeedButton1Click();

    V got = Entries();
    const V want{root + "top.mp3",
                 disk + "etc/other.mp3",
                 disk + "usr/other.mp3",
                 root + "data/usr/user.mp3",
                 root + "home/ann/user.mp3",
                 root + "library/user.mp3",
                 root + "media/cd/user.mp3",
                 root + "mnt/disk/user.mp3",
                 root + "root/user.mp3",
                 root + "srv/user.mp3",
                 disk + "music/lost+found/kept.mp3"};
    V sortedGot = got, sortedWant = want;
    std::sort(sortedGot.begin(), sortedGot.end());
    std::sort(sortedWant.begin(), sortedWant.end());
    EXPECT_EQ(sortedGot, sortedWant);
    std::string stored;
    for (const auto& e : got) stored += e + "\r\n";
    EXPECT_EQ(ReadFile(Path("SearchView.MP3")), stored);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(SystemTreesTest, TheSameTreeAsAnOrdinaryFolderIsWalkedAndEndsInterrupted) {
    // Failure twin: not the root file system, so every folder is the user's; the deep
    // chain under usr then stops the walk at its level limit and nothing is stored.
    const std::string root = AddDrive("root");
    MakeRoot(root);
    boxes->answers = {platform::BoxAnswer::Yes};
    SetBox("*.MP3");

    form->SpeedButton1Click();

    V got = Entries();
    EXPECT_NE(std::find(got.begin(), got.end(), root + "usr/lib/system.mp3"), got.end());
    EXPECT_NE(std::find(got.begin(), got.end(), root + "etc/system.mp3"), got.end());
    // A disk's own lost+found stays out on every disk.
    EXPECT_EQ(std::find(got.begin(), got.end(), root + "lost+found/system.mp3"), got.end());
    EXPECT_EQ(Informations(), std::vector<QString>{kInterrupted});
    EXPECT_FALSE(platform::PathExists(Path("SearchView.MP3")));
}

TEST_F(SystemTreesTest, SystemTreesOfTheRootAreNeverEnteredEvenForOtherMasks) {
    // A keyword mask and the subfolder pass: no read of anything below a system tree.
    const std::string root = AddDrive("root");
    fakes->drives->systemRoot = root;
    File(Dirs(root, "usr/share") + "piano");
    File(Dirs(root, "home") + "piano");
    form->IdleSearchActive = 1;
    SetBox("piano");

    form->SpeedButton1Click();

    EXPECT_EQ(Entries(), V{root + "home/piano"});
    EXPECT_FALSE(platform::PathExists(Path("SearchView")));
}

}  // namespace
