// Reading the folders of a walk level ahead of the walk: the same walk as reading each
// folder at its turn, whatever happens to the folders, the threads or the window.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/Drives.h"
#include "platform/ReadAhead.h"
#include "search/LevelWalk.h"
#include "support/ReadAheadHelpers.h"

namespace {

using V = std::vector<std::string>;
using namespace readahead_test;

void Touch(const std::string& path) { std::ofstream(path, std::ios::binary) << "x"; }

class ReadAheadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        dir = tmp_.path().toStdString() + "/";
    }
    // A drive with `folders` folders at level 1, of differing lengths, each with a
    // subfolder, files that match and files that do not.
    std::string MakeDrive(const std::string& name, int folders) {
        std::string root = dir + name + "/";
        ::mkdir(root.c_str(), 0755);
        Touch(root + "top.mp3");
        for (int i = 0; i < folders; ++i) {
            char n[32];
            std::snprintf(n, sizeof n, "Dir%03d", i);
            std::string f = root + n + "/";
            ::mkdir(f.c_str(), 0755);
            for (int k = 0; k <= i % 7; ++k) Touch(f + "t" + std::to_string(k) + ".mp3");
            Touch(f + "note.txt");
            Touch(f + "README");
            ::mkdir((f + "Deep").c_str(), 0755);
            Touch(f + "Deep/d" + std::to_string(i) + ".MP3");
        }
        return root;
    }
    static search::WalkEnd Walk(platform::Drives& drives, const V& roots, RecordingSink& sink) {
        return search::WalkLevels(roots, "*.mp3", drives, sink);
    }
    static platform::ReadAheadOptions Ahead(int threads) {
        platform::ReadAheadOptions o;
        o.threads = threads;
        o.settled = std::chrono::nanoseconds(0);  // the tree is fresh
        return o;
    }
    std::string dir;

private:
    QTemporaryDir tmp_;
};

TEST_F(ReadAheadTest, StampTellsAnUnchangedFolderFromAChangedRemovedOrReplacedOne) {
    const std::string d = dir + "F/";
    ::mkdir(d.c_str(), 0755);
    Touch(d + "a.mp3");
    auto stampOf = [](const std::string& f) {
        platform::FolderStamp s;
        EXPECT_TRUE(platform::ReadFolderEntries(f, nullptr, [](std::string_view, platform::EntryType) {}, {}, &s));
        LetTheFileClockTick();
        return s;
    };
    const auto none = std::chrono::nanoseconds(0);
    platform::FolderStamp s = stampOf(d);
    EXPECT_TRUE(s.timesTell);
    EXPECT_TRUE(platform::StillAsStamped(d, s, none));
    // Just made: too fresh to trust when a folder must have settled for an hour.
    EXPECT_FALSE(platform::StillAsStamped(d, s, std::chrono::hours(1)));

    Touch(d + "b.mp3");
    EXPECT_FALSE(platform::StillAsStamped(d, s, none)) << "an entry was added";
    s = stampOf(d);
    ::unlink((d + "b.mp3").c_str());
    EXPECT_FALSE(platform::StillAsStamped(d, s, none)) << "an entry was removed";
    s = stampOf(d);
    ::chmod(d.c_str(), 0500);
    EXPECT_FALSE(platform::StillAsStamped(d, s, none)) << "its permissions changed";
    ::chmod(d.c_str(), 0755);
    s = stampOf(d);
    ::rename(d.substr(0, d.size() - 1).c_str(), (dir + "Away").c_str());
    ::mkdir(d.c_str(), 0755);
    Touch(d + "a.mp3");
    EXPECT_FALSE(platform::StillAsStamped(d, s, none)) << "another folder under the same name";
    s = stampOf(d);
    std::filesystem::remove_all(d);
    EXPECT_FALSE(platform::StillAsStamped(d, s, none)) << "removed";
    Touch(dir + "F");
    EXPECT_FALSE(platform::StillAsStamped(d, s, none)) << "a file under its name";

    // A file system whose folder times do not follow its entries is never trusted.
    platform::FolderStamp proc;
    ASSERT_TRUE(
        platform::ReadFolderEntries("/proc/self/", nullptr, [](std::string_view, platform::EntryType) {}, {}, &proc));
    EXPECT_FALSE(proc.timesTell);
    EXPECT_FALSE(platform::StillAsStamped("/proc/self/", proc, none));
}

TEST_F(ReadAheadTest, AWalkReadAheadListsWhatAWalkReadInTurnLists) {
    const V roots{MakeDrive("A", 90), MakeDrive("B", 25)};
    platform::LinuxDrives inTurn;
    inTurn.SetReadAhead(Ahead(0));
    RecordingSink plain;
    ASSERT_EQ(Walk(inTurn, roots, plain), search::WalkEnd::Completed);
    EXPECT_EQ(inTurn.ReadAheadDone().handedOver, 0);

    platform::ReadAheadOptions o = Ahead(4);
    ReadLog log;
    o.onReadAhead = [&](int index) { log.Add(index); };
    platform::LinuxDrives ahead;
    ahead.SetReadAhead(o);
    RecordingSink got;
    // On a busy machine the walk could outrun helpers not yet running: the level's later
    // folders are read ahead before the walk goes on from its first.
    got.onFolder = [&](int level, int index, std::string_view) {
        if (level == 1 && index == 0) EXPECT_TRUE(log.WaitFor({4, 5}));
    };
    ASSERT_EQ(Walk(ahead, roots, got), search::WalkEnd::Completed);
    EXPECT_EQ(got.folders, plain.folders);
    EXPECT_EQ(got.matches, plain.matches);
    auto expected = [](int folders) {
        size_t n = 1 + static_cast<size_t>(folders);  // top.mp3 and each Deep/d<i>.MP3
        for (int i = 0; i < folders; ++i) n += static_cast<size_t>(i % 7 + 1);
        return n;
    };
    EXPECT_EQ(plain.matches.size(), expected(90) + expected(25));
    const platform::ReadAheadCounts& c = ahead.ReadAheadDone();
    EXPECT_GT(c.helpersStarted, 0);
    EXPECT_GT(c.handedOver, 0);
    EXPECT_EQ(c.handedOver + c.readInTurn, static_cast<long>(plain.folders.size()));
    EXPECT_EQ(HelperThreads(), 0);

    // A folder too long to hold is read again at its turn, with the same entries.
    platform::ReadAheadOptions small = Ahead(4);
    small.folderBytes = 40;
    platform::LinuxDrives shortHold;
    shortHold.SetReadAhead(small);
    RecordingSink again;
    ASSERT_EQ(Walk(shortHold, roots, again), search::WalkEnd::Completed);
    EXPECT_EQ(again.matches, plain.matches);
    EXPECT_GT(shortHold.ReadAheadDone().readInTurn, 100);
}

TEST_F(ReadAheadTest, HeldFoldersStayWithinTheWindow) {
    const V roots{MakeDrive("A", 200)};
    platform::ReadAheadOptions o = Ahead(4);
    o.window = 5;
    o.windowBytes = 120;
    o.folderBytes = 100;
    ReadLog log;
    o.onReadAhead = [&](int index) { log.Add(index); };
    platform::LinuxDrives drives;
    drives.SetReadAhead(o);
    RecordingSink sink, plain;
    // On a busy machine the walk could outrun helpers that have not run yet; the first two
    // folders (72 bytes together) are read ahead before it starts.
    sink.onFolder = [&](int level, int index, std::string_view) {
        if (level == 1 && index == 0) {
            EXPECT_TRUE(log.WaitFor({0, 1}));
        }
    };
    ASSERT_EQ(Walk(drives, roots, sink), search::WalkEnd::Completed);
    platform::LinuxDrives inTurn;
    inTurn.SetReadAhead(Ahead(0));
    ASSERT_EQ(Walk(inTurn, roots, plain), search::WalkEnd::Completed);
    EXPECT_EQ(sink.matches, plain.matches);
    const platform::ReadAheadCounts& c = drives.ReadAheadDone();
    EXPECT_GT(c.handedOver, 0);
    EXPECT_LE(c.mostAhead, 5);
    // Helpers stop claiming once the held bytes reach the limit; each may finish one folder.
    EXPECT_LT(c.mostBytes, 120u + 4u * 100u);
}

TEST_F(ReadAheadTest, CancelMidLevelLeavesNoHelperRunning) {
    const V roots{MakeDrive("A", 300)};
    platform::ReadAheadOptions o = Ahead(4);
    o.window = 8;
    ReadLog log;
    o.onReadAhead = [&](int index) { log.Add(index); };
    platform::LinuxDrives drives;
    drives.SetReadAhead(o);
    RecordingSink sink;
    int seenHelpers = 0;
    sink.onFolder = [&](int level, int index, std::string_view) {
        if (level != 1 || index != 3) return;
        // The helpers have filled the window and wait for room when the walk stops. Folder 3
        // itself may have been read at its turn, by a walk that outran helpers not yet running.
        EXPECT_TRUE(log.WaitFor({4, 5, 6, 7, 8, 9, 10}));
        seenHelpers = HelperThreads();
        sink.cancel = true;
    };
    EXPECT_EQ(Walk(drives, roots, sink), search::WalkEnd::Interrupted);
    EXPECT_EQ(seenHelpers, 4);
    EXPECT_EQ(HelperThreads(), 0);
    // It stopped where the walk read in turn stops: after the first match of folder 3.
    platform::LinuxDrives inTurn;
    inTurn.SetReadAhead(Ahead(0));
    RecordingSink plain;
    plain.onFolder = [&](int level, int index, std::string_view) {
        if (level == 1 && index == 3) plain.cancel = true;
    };
    EXPECT_EQ(Walk(inTurn, roots, plain), search::WalkEnd::Interrupted);
    EXPECT_EQ(sink.matches, plain.matches);
    EXPECT_EQ(sink.folders, plain.folders);
}

TEST_F(ReadAheadTest, HelpersThatCannotStartLeaveTheReadingToTheTurn) {
    const V roots{MakeDrive("A", 60)};
    platform::LinuxDrives inTurn;
    inTurn.SetReadAhead(Ahead(0));
    RecordingSink plain;
    ASSERT_EQ(Walk(inTurn, roots, plain), search::WalkEnd::Completed);

    // Not one starts: every folder is read at its turn, nothing waits for a helper.
    platform::ReadAheadOptions none = Ahead(4);
    none.startThread = [](std::function<void()>) { return std::thread(); };
    platform::LinuxDrives noHelpers;
    noHelpers.SetReadAhead(none);
    RecordingSink got;
    ASSERT_EQ(Walk(noHelpers, roots, got), search::WalkEnd::Completed);
    EXPECT_EQ(got.matches, plain.matches);
    EXPECT_EQ(noHelpers.ReadAheadDone().helpersStarted, 0);
    EXPECT_GT(noHelpers.ReadAheadDone().helpersFailed, 0);
    EXPECT_EQ(noHelpers.ReadAheadDone().handedOver, 0);

    // The first of each level starts, the rest fail: the one helper reads ahead alone.
    platform::ReadAheadOptions one = Ahead(4);
    std::atomic<int> tries{0};
    one.startThread = [&](std::function<void()> body) {
        return tries++ % 4 == 0 ? std::thread(std::move(body)) : std::thread();
    };
    platform::LinuxDrives oneHelper;
    oneHelper.SetReadAhead(one);
    RecordingSink some;
    ASSERT_EQ(Walk(oneHelper, roots, some), search::WalkEnd::Completed);
    EXPECT_EQ(some.matches, plain.matches);
    EXPECT_GT(oneHelper.ReadAheadDone().helpersStarted, 0);
    EXPECT_EQ(oneHelper.ReadAheadDone().helpersFailed, 3 * oneHelper.ReadAheadDone().helpersStarted);
    EXPECT_EQ(HelperThreads(), 0);
}

TEST_F(ReadAheadTest, WhatTheHelperCouldNotReadOrCannotVouchForIsReadAtItsTurn) {
    const std::string root = MakeDrive("A", 6);
    platform::PathList folders;
    for (int i = 0; i < 6; ++i) {
        char n[32];
        std::snprintf(n, sizeof n, "Dir%03d/", i);
        folders.Add(root, n);
    }
    auto names = [](platform::LevelReader& reader, int i) {
        V out;
        const bool ok = reader.Read(i, [&](std::string_view n, platform::EntryType) { out.emplace_back(n); });
        std::sort(out.begin(), out.end());
        return std::make_pair(ok, out);
    };
    platform::ReadAheadOptions o = Ahead(2);
    ReadLog log;
    o.onReadAhead = [&](int index) { log.Add(index); };
    platform::ReadAheadCounts counts;
    std::atomic<int> inTurnReads{0};
    // The helpers see folder 2 fail and folder 4 stamped by a file system that cannot vouch.
    platform::ReadAheadLevel level(
        folders, o,
        [&](const std::string& f, const platform::FolderEntryFn& fn, platform::FolderStamp* s) {
            if (f == std::string(folders.At(2))) return false;
            const bool ok = platform::ReadFolderEntries(f, nullptr, fn, {}, s);
            if (f == std::string(folders.At(4))) s->timesTell = false;
            return ok;
        },
        [&](const std::string& f, const platform::FolderEntryFn& fn) {
            ++inTurnReads;
            return platform::ReadFolderEntries(f, nullptr, fn);
        },
        counts);
    ASSERT_TRUE(log.WaitFor({0, 1, 2, 3, 4, 5}));
    const V dir0{"Deep", "README", "note.txt", "t0.mp3"};
    const V dir2{"Deep", "README", "note.txt", "t0.mp3", "t1.mp3", "t2.mp3"};
    EXPECT_EQ(names(level, 0), std::make_pair(true, dir0));
    EXPECT_EQ(names(level, 1).second.size(), 5u);
    EXPECT_EQ(names(level, 2), std::make_pair(true, dir2));
    EXPECT_EQ(names(level, 3).second.size(), 7u);
    EXPECT_EQ(names(level, 4).second.size(), 8u);
    // Removed after the helper read it: the turn finds it gone, as a read in turn would.
    std::filesystem::remove_all(std::string(folders.At(5)));
    EXPECT_EQ(names(level, 5), std::make_pair(false, V{}));
    // 2, 4 and 5 were read again; 0, 1 and 3 handed over.
    EXPECT_EQ(inTurnReads.load(), 3);
    EXPECT_EQ(counts.handedOver, 3);
}

}  // namespace
