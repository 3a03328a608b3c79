// Fixed disks from the mount table, folder reading, file masks and the key record.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <fstream>

#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/Finder.h"
#include "platform/Input.h"

namespace {

using V = std::vector<std::string>;

TEST(DrivesTest, FixedDisksFromTheMountTable) {
    const std::string table =
        "22 27 0:21 / /proc rw - proc proc rw\n"
        "24 27 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
        "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "40 27 8:17 / /srv/data\\040disk rw - xfs /dev/sdb1 rw\n"
        "41 27 8:1 / /home rw - ext4 /dev/sda1 rw\n"
        "42 27 8:33 / /media/stick rw - vfat /dev/sdc1 rw\n"
        "43 27 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
        "44 27 0:50 / /net rw - nfs4 server:/export rw\n"
        "45 27 254:0 /var/lib/x /etc/hosts rw - ext4 /dev/vda rw\n"
        "46 27 8:1 / /mnt/home-again rw - ext4 /dev/sda1 rw\n"
        "47 27 7:0 / /snap/core rw - squashfs /dev/loop0 ro\n"
        "bad line\n";
    std::set<std::string> all;
    // Whether a device is removable is the callback's answer: no for the stick.
    V fixed = platform::FixedMountPoints(
        table, [](unsigned major, unsigned minor) { return !(major == 8 && minor == 33); }, &all);
    EXPECT_EQ(fixed, (V{"/", "/home/", "/srv/data disk/"}));
    EXPECT_TRUE(all.count("/proc/"));
    EXPECT_TRUE(all.count("/mnt/home-again/"));
}

TEST(DrivesTest, EnvironmentListReplacesTheDisksInItsOrder) {
    const char* old = std::getenv("TESSALY_DRIVES");
    std::string saved = old ? old : "";
    setenv("TESSALY_DRIVES", "/media/music::/srv/b/", 1);
    platform::LinuxDrives drives;
    EXPECT_EQ(drives.FixedDrives(), (V{"/media/music/", "/srv/b/"}));
    // One folder named twice is searched once, and a relative one from the current folder:
    // every entry of the list is a full path.
    setenv("TESSALY_DRIVES", "/media//music:rel/dir:/media/music/:/srv/b", 1);
    EXPECT_EQ(drives.FixedDrives(), (V{"/media/music/", platform::GetCurrentDir() + "/rel/dir/", "/srv/b/"}));
    if (old)
        setenv("TESSALY_DRIVES", saved.c_str(), 1);
    else
        unsetenv("TESSALY_DRIVES");
    // Without it the root file system of this machine is among the disks, first.
    V real = drives.FixedDrives();
    if (!old && !real.empty()) {
        EXPECT_EQ(real.front(), "/");
    }
}

TEST(DrivesTest, FolderReadingAndFindMasks) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString() + "/";
    for (const char* f : {"Song.MP3", "song.mp3x", ".hidden.mp3", "a.b.mp3", "README", "ab.txt", "abc.txt"})
        std::ofstream(d + f) << "x";
    for (const char* f : {"sub", "dir.mp3", ".git", "mnt"}) ::mkdir((d + f).c_str(), 0755);
    ASSERT_EQ(::symlink((d + "Song.MP3").c_str(), (d + "link.mp3").c_str()), 0);
    ASSERT_EQ(::symlink(d.c_str(), (d + "loop").c_str()), 0);
    ::mkfifo((d + "pipe.mp3").c_str(), 0644);

    std::set<std::string> mounts{d + "mnt/"};
    std::vector<std::pair<std::string, platform::EntryType>> got;
    ASSERT_TRUE(platform::ReadFolderEntries(d, &mounts, [&](std::string_view n, platform::EntryType t) {
        got.emplace_back(std::string(n), t);
    }));
    std::sort(got.begin(), got.end());
    using E = platform::EntryType;
    EXPECT_EQ(got, (std::vector<std::pair<std::string, E>>{{"README", E::File},
                                                           {"Song.MP3", E::File},
                                                           {"a.b.mp3", E::File},
                                                           {"ab.txt", E::File},
                                                           {"abc.txt", E::File},
                                                           {"dir.mp3", E::Folder},
                                                           {"song.mp3x", E::File},
                                                           {"sub", E::Folder}}));
    EXPECT_FALSE(platform::ReadFolderEntries(d + "README/", nullptr, [](std::string_view, E) {}));
    EXPECT_FALSE(platform::ReadFolderEntries(d + "missing/", nullptr, [](std::string_view, E) {}));

    auto matches = [](const char* mask, const char* name) { return platform::FileMask(mask).Matches(name); };
    EXPECT_TRUE(matches("*.MP3", "song.mp3"));
    EXPECT_TRUE(matches("*.mp3", "A.B.Mp3"));
    EXPECT_FALSE(matches("*.mp3", "song.mp3x"));
    EXPECT_FALSE(matches("*.mp3", "mp3"));
    EXPECT_TRUE(matches("*.*", "README"));
    EXPECT_TRUE(matches("a?c.*", "ABC.txt"));
    EXPECT_FALSE(matches("a?c.*", "ac.txt"));
    EXPECT_TRUE(matches("*b*c*", "xxBxxcx"));
    EXPECT_FALSE(matches("*b*c*", "xxcxxb"));
    EXPECT_TRUE(matches("piano", "PIANO"));
    EXPECT_FALSE(matches("piano", "piano.mp3"));
    EXPECT_TRUE(matches("*.\xe6\x9b\xb2", "a.\xe6\x9b\xb2"));
}

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A folder longer than one kernel read: every entry once, also when the folder goes away
// or the handler fails part way.
TEST(DrivesTest, LongFoldersWholeOnceAndFailuresPartWay) {
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString() + "/long/";
    ::mkdir(d.c_str(), 0755);
    const std::string pad(200, 'x');
    const int kFiles = 600;  // about 130 KB of entries
    for (int i = 0; i < kFiles; ++i) ::close(::creat((d + std::to_string(i) + pad + ".mp3").c_str(), 0644));
    std::set<std::string> seen;
    int calls = 0;
    ASSERT_TRUE(platform::ReadFolderEntries(d, nullptr, [&](std::string_view n, platform::EntryType) {
        ++calls;
        seen.insert(std::string(n));
    }));
    EXPECT_EQ(calls, kFiles);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kFiles));
    EXPECT_TRUE(seen.count("599" + pad + ".mp3"));

    // A handler that throws (out of memory on a helper) leaves no folder open behind it.
    const int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i)
        EXPECT_THROW(platform::ReadFolderEntries(d, nullptr,
                                                 [](std::string_view, platform::EntryType) { throw std::bad_alloc(); }),
                     std::bad_alloc);
    EXPECT_EQ(OpenDescriptors(), before);

    // Removed while being listed: what came before is kept, nothing comes twice, no failure.
    calls = 0;
    seen.clear();
    EXPECT_TRUE(platform::ReadFolderEntries(d, nullptr, [&](std::string_view n, platform::EntryType) {
        if (calls++ == 0) std::filesystem::remove_all(d);
        seen.insert(std::string(n));
    }));
    EXPECT_GT(calls, 0);
    EXPECT_LT(calls, kFiles);
    EXPECT_EQ(seen.size(), static_cast<size_t>(calls));
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(InputTest, KeyPressesSeenByTheApplicationCountOnce) {
    platform::X11KeyState keys;
    QWidget w;
    for (int key : {int(Qt::Key_K), int(Qt::Key_Down), int(Qt::Key_F1)}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&w, &press);
    }
    EXPECT_NE(keys.GetAsyncKeyState('K'), 0);
    EXPECT_EQ(keys.GetAsyncKeyState('K'), 0);  // pressed since the last query: once
    EXPECT_NE(keys.GetAsyncKeyState(40), 0);
    EXPECT_EQ(keys.GetAsyncKeyState('J'), 0);
    EXPECT_EQ(platform::VirtualKeyOfQtKey(Qt::Key_F1), 0);
    EXPECT_EQ(platform::VirtualKeyOfQtKey(Qt::Key_Space), 32);
    EXPECT_EQ(platform::VirtualKeyOfQtKey(Qt::Key_Left), 37);
}

}  // namespace
