// The full search over the real drive service reads ahead of its walk; the stored list is
// the same, byte for byte, as when every folder is read at its turn, whatever the tree
// holds and whatever happens to its folders during the walk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "SearchFixture.h"
#include "platform/Drives.h"
#include "tests/fakes/EnvDrives.h"
#include "tests/fakes/ServiceScope.h"
#include "support/ReadAheadHelpers.h"

namespace {

using V = std::vector<std::string>;
using namespace readahead_test;

// The real drives, with a look-in before each folder's turn.
class WatchedDrives : public platform::Drives {
public:
    std::vector<std::string> FixedDrives() override { return real.FixedDrives(); }
    bool ReadFolder(const std::string& folder, const platform::FolderEntryFn& onEntry) override {
        return real.ReadFolder(folder, onEntry);
    }
    std::unique_ptr<platform::LevelReader> ReadLevel(const platform::PathList& folders) override {
        ++level;
        log.Clear();
        return std::make_unique<Level>(*this, folders, real.ReadLevel(folders));
    }

    platform::LinuxDrives real;
    int level = -1;
    ReadLog log;
    std::function<void(int level, const platform::PathList& folders, int index)> beforeTurn;

private:
    class Level : public platform::LevelReader {
    public:
        Level(WatchedDrives& d, const platform::PathList& f, std::unique_ptr<platform::LevelReader> r)
            : drives_(d), folders_(f), real_(std::move(r)) {}
        bool Read(int index, const platform::FolderEntryFn& onEntry) override {
            if (drives_.beforeTurn) drives_.beforeTurn(drives_.level, folders_, index);
            return real_->Read(index, onEntry);
        }

    private:
        WatchedDrives& drives_;
        const platform::PathList& folders_;
        std::unique_ptr<platform::LevelReader> real_;
    };
};

class ReadAheadSearchTest : public SearchFixture {
protected:
    void Make() {
        const std::string a = Path("A") + "/", b = Path("B") + "/";
        std::filesystem::remove_all(a);
        std::filesystem::remove_all(b);
        Dir(a);
        Dir(b);
        File(a + "a.mp3");
        File(a + ".hidden.mp3");
        File(a + "README");  // dotless: taken along like a folder, reads as nothing
        Dir(a + "folder.mp3");
        for (int i = 0; i < 40; ++i) {
            const std::string f = Dirs(a, "F" + std::to_string(i));
            for (int k = 0; k <= i % 5; ++k) File(f + "s" + std::to_string(k) + ".Mp3");
            File(f + "other.txt");
            File(Dirs(f, "sub") + "z.mp3");
        }
        File(Dirs(a, "My.Folder") + "in-dotted.mp3");
        File(Dirs(a, ".cache") + "in-hidden.mp3");
        const std::string locked = Dirs(a, "Locked");
        File(locked + "l.mp3");
        ::chmod(locked.c_str(), 0);
        File(Dirs(a, "Gone") + "g.mp3");
        File(Dirs(a, "Gone/sub") + "gg.mp3");
        File(Dirs(a, "Swapped") + "s.mp3");
        File(Dirs(a, "Closed") + "c.mp3");
        File(Dirs(a, "Closed/sub") + "cc.mp3");
        // The second drive: a chain down to level 16 with a neighbour on every level, so
        // that each deep level has more than one folder to read ahead.
        File(b + "b.mp3");
        std::string at = b;
        for (int level = 1; level <= 16; ++level) {
            if (level <= 15) File(Dirs(at, "N") + "n" + std::to_string(level) + ".mp3");
            at = Dirs(at, "L" + std::to_string(level));
            File(at + "m" + std::to_string(level) + ".mp3");
        }
    }
    // What happens to the targets just before the walk's first turn on level 1.
    void Mutate() {
        const std::string a = Path("A") + "/";
        std::filesystem::remove_all(a + "Gone");
        ::rename((a + "Swapped").c_str(), (a + ".swapped").c_str());
        File(a + "Swapped");
        ::chmod((a + "Closed").c_str(), 0);
    }
    // Runs the search unattended and returns the stored list's bytes.
    std::string Search(platform::ReadAheadOptions options, bool waitForTargets) {
        Make();
        auto watched = std::make_unique<WatchedDrives>();
        WatchedDrives& drives = *watched;
        options.onReadAhead = [&](int index) { drives.log.Add(index); };
        drives.real.SetReadAhead(options);
        bool mutated = false;
        drives.beforeTurn = [&](int level, const platform::PathList& folders, int index) {
            if (level != 1 || index != 0) return;
            std::vector<int> targets;
            for (int i = 0; i < folders.Count(); ++i) {
                const std::string_view f = folders.At(i);
                for (std::string_view name : {"/A/Gone/", "/A/Swapped/", "/A/Closed/"})
                    if (f.size() >= name.size() && f.substr(f.size() - name.size()) == name) targets.push_back(i);
            }
            ASSERT_EQ(targets.size(), 3u);
            if (waitForTargets) {
                // The helpers have read the targets as they were; only then do they change.
                ASSERT_TRUE(drives.log.WaitFor(targets));
                LetTheFileClockTick();
            }
            Mutate();
            mutated = true;
        };
        ServiceScope<platform::Drives> scope(platform::Current().drives, std::move(watched));
        WithoutPermissionBypass asUser;
        EXPECT_TRUE(DeniedToUs(Path("A") + "/Locked/")) << "the locked folder must be unreadable to the walk";
        form->IdleSearchActive = 1;
        SetBox("*.MP3");
        form->SpeedButton1Click();
        EXPECT_TRUE(mutated);
        counts = drives.real.ReadAheadDone();
        return ReadFile(Path("SearchView.MP3"));
    }
    static platform::ReadAheadOptions Options(int threads) {
        platform::ReadAheadOptions o;
        o.threads = threads;
        o.window = 256;
        o.settled = std::chrono::nanoseconds(0);  // the tree is fresh
        return o;
    }
    void TearDown() override {
        for (const char* f : {"A/Locked", "A/Closed"}) ::chmod(Path(f).c_str(), 0755);
        SearchFixture::TearDown();
    }
    platform::ReadAheadCounts counts;
};

TEST_F(ReadAheadSearchTest, SameStoredListWithReadAheadOnAndOff) {
    EnvDrives env(Path("A") + ":" + Path("B"));
    const std::string off = Search(Options(0), false);
    EXPECT_EQ(counts.handedOver, 0);
    const std::string on = Search(Options(4), true);
    EXPECT_GT(counts.helpersStarted, 0);
    EXPECT_GT(counts.handedOver, 40);

    EXPECT_EQ(on, off);
    const std::string a = Path("A") + "/", b = Path("B") + "/";
    auto has = [&](const std::string& path) { return on.find(path + "\r\n") != std::string::npos; };
    EXPECT_TRUE(has(a + "a.mp3"));
    EXPECT_TRUE(has(a + "F39/s4.Mp3"));
    EXPECT_TRUE(has(a + "F0/sub/z.mp3"));
    EXPECT_TRUE(has(b + "L1/L2/L3/L4/L5/L6/L7/L8/L9/L10/L11/L12/L13/L14/L15/L16/m16.mp3"));
    EXPECT_TRUE(has(b + "L1/L2/L3/L4/L5/L6/L7/L8/L9/L10/L11/L12/L13/L14/N/n15.mp3"));
    for (const std::string gone : {".hidden.mp3", "My.Folder/in-dotted.mp3", ".cache/in-hidden.mp3", "Locked/l.mp3",
                                   "Gone/g.mp3", "Gone/sub/gg.mp3", "Swapped/s.mp3", ".swapped/s.mp3", "Closed/c.mp3",
                                   "Closed/sub/cc.mp3", "folder.mp3"})
        EXPECT_FALSE(has(a + gone)) << gone;
    // Roots first, then level by level: a.mp3 and b.mp3 lead, m16 closes the list.
    EXPECT_EQ(on.rfind(a + "a.mp3\r\n" + b + "b.mp3\r\n", 0), 0u);
    EXPECT_EQ(on.size() - on.rfind("/m16.mp3\r\n"), std::string("/m16.mp3\r\n").size());
    const size_t lines = static_cast<size_t>(std::count(on.begin(), on.end(), '\n'));
    EXPECT_EQ(lines, 2u + (1 + 2 + 3 + 4 + 5) * 8 + 40 + 16 + 15);
    EXPECT_EQ(HelperThreads(), 0);
}

}  // namespace
