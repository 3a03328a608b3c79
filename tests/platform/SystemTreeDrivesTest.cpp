// The system attribute on Linux: the operating system's trees at the top of the root file
// system, and a disk's own folders at its top.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "platform/Drives.h"
#include "tests/fakes/EnvDrives.h"
#include "tests/fakes/FakeDrives.h"

namespace {

using V = std::vector<std::string>;

TEST(SystemTrees, NamesOfTheOperatingSystemsTrees) {
    for (const char* name : {"bin", "boot", "dev", "efi", "etc", "gnu", "lib", "lib32", "lib64", "libx32",
                             "lost+found", "nix", "opt", "proc", "run", "sbin", "snap", "sys", "tmp", "usr", "var"})
        EXPECT_TRUE(platform::IsSystemTree(name)) << name;
    for (const char* name : {"home", "root", "srv", "mnt", "media", "data", "cdrom", "library", "libx", "lib3a",
                             "libx32b", "Usr", "usr2", "vars", "", "music"})
        EXPECT_FALSE(platform::IsSystemTree(name)) << name;
    for (const char* name : {"lost+found", "System Volume Information", "SYSTEM VOLUME INFORMATION", "$Recycle.Bin"})
        EXPECT_TRUE(platform::IsDiskSystemFolder(name)) << name;
    for (const char* name : {"lost", "found", "System", "usr", "Recycle.Bin"})
        EXPECT_FALSE(platform::IsDiskSystemFolder(name)) << name;
}

TEST(SystemTrees, DisksMountedInsideSystemTreesAreNotSearched) {
    const std::string table =
        "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "30 27 8:1 / /boot rw - ext4 /dev/sda1 rw\n"
        "31 30 8:2 / /boot/efi rw - vfat /dev/sda2 rw\n"
        "32 27 8:3 / /var rw - xfs /dev/sda3 rw\n"
        "33 27 8:4 / /usr/local rw - ext4 /dev/sda4 rw\n"
        "34 27 8:5 / /home rw - ext4 /dev/sda5 rw\n"
        "35 27 8:6 / /srv/var rw - ext4 /dev/sda6 rw\n"
        "36 27 8:7 / /mnt/usr rw - ext4 /dev/sda7 rw\n"
        "37 27 8:8 / /library rw - ext4 /dev/sda8 rw\n";
    std::set<std::string> all;
    V fixed = platform::FixedMountPoints(table, [](unsigned, unsigned) { return true; }, &all);
    EXPECT_EQ(fixed, (V{"/", "/home/", "/library/", "/mnt/usr/", "/srv/var/"}));
    // Still mount points, so no walk crosses into them.
    for (const char* m : {"/boot/", "/boot/efi/", "/var/", "/usr/local/"}) EXPECT_TRUE(all.count(m)) << m;
}

V Names(platform::Drives& drives, const std::string& folder) {
    V names;
    drives.ReadFolder(folder, [&](std::string_view n, platform::EntryType) { names.emplace_back(n); });
    std::sort(names.begin(), names.end());
    return names;
}

bool Has(const V& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

TEST(SystemTrees, TheRealRootUnderAnyNameHidesItsSystemTrees) {
    // This machine's "/" holds usr and etc; read as "/" and as "/usr/.." (one folder under
    // two names) neither shows, while the user's folders do.
    struct stat st{};
    ASSERT_EQ(::stat("/usr", &st), 0);
    ASSERT_EQ(::stat("/etc", &st), 0);
    for (const std::string root : {"/", "/usr/../"}) {
        EnvDrives env(root);
        platform::LinuxDrives drives;
        ASSERT_EQ(drives.FixedDrives(), V{root});
        V names = Names(drives, root);
        for (const char* sys : {"usr", "etc", "proc", "sys", "dev", "var", "tmp", "run"})
            EXPECT_FALSE(Has(names, sys)) << root << sys;
        if (::stat("/root", &st) == 0) {
            EXPECT_TRUE(Has(names, "root")) << root;
        }
        // Below the top the same names are the user's: /usr holds its own "lib".
        V inUsr = Names(drives, root + "usr/");
        EXPECT_TRUE(Has(inUsr, "lib")) << root;
    }
}

TEST(SystemTrees, SameNamedFoldersOnAnotherDriveAreSearched) {
    // Failure twin: a folder that is not the root file system keeps its usr, etc and lib64;
    // a disk's lost+found goes only where the folder is a disk's top.
    QTemporaryDir tmp;
    const std::string d = tmp.path().toStdString() + "/";
    for (const char* f : {"usr", "etc", "lib64", "lost+found", "home"}) ::mkdir((d + f).c_str(), 0755);
    EnvDrives env(d);
    platform::LinuxDrives drives;
    ASSERT_EQ(drives.FixedDrives(), V{d});
    EXPECT_EQ(Names(drives, d), (V{"etc", "home", "lib64", "lost+found", "usr"}));

    platform::FakeDrives fake;
    fake.roots = {d};
    EXPECT_EQ(Names(fake, d), (V{"etc", "home", "lib64", "usr"}));
    fake.systemRoot = d;
    EXPECT_EQ(Names(fake, d), (V{"home"}));
    fake.roots = {};
    fake.systemRoot = "";
    EXPECT_EQ(Names(fake, d), (V{"etc", "home", "lib64", "lost+found", "usr"}));
}

}  // namespace
