// Whole downloads whose server announces a size it does not keep to: larger, smaller, absurd,
// unreadable, or changing between the lines of its preliminary reply; onto the test folder's
// own disk and onto a small, nearly full one. The file holds exactly the bytes received and no
// more disk than they need, however the download ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "MountedFolder.h"
#include "FtpHelpers.h"

using namespace testnet;

namespace {

std::int64_t AllocatedBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t{st.st_blocks} * 512 : -1;
}

std::int64_t FreeBytes(const std::string& dir) {
    struct statvfs fs {};
    return ::statvfs(dir.c_str(), &fs) == 0 ? std::int64_t(fs.f_bavail) * std::int64_t(fs.f_frsize) : -1;
}

// A small memory file system mounted on a folder for as long as it lives.
using SmallDisk = MountedFolder;

enum class End { Complete, Short, Reset };

struct Case {
    std::string name;
    std::string preliminary;  // the whole 150 reply, every line
    std::size_t sent;
    End end;
    bool fails;  // a binary download shorter than announced fails too
};

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

class DownloadRoom : public NetTest {
protected:
    void SetUp() override { descriptors_ = OpenDescriptors(); }
    void TearDown() override { EXPECT_EQ(OpenDescriptors(), descriptors_) << "descriptors leaked"; }

    // Runs every case as one download of `payload` into `target`, each onto a file that
    // already holds more than the new data. Returns the text each download raised.
    std::vector<std::string> Run(const std::vector<Case>& cases, const std::string& payload,
                                 const std::string& target) {
        ScriptServer server([&](ScriptServer& s) {
            Login(s);
            s.Expect("TYPE I", "200 ok\r\n");
            for (const auto& k : cases) {
                PassiveRetr(s, "song", k.preliminary);
                s.SendData(payload.substr(0, k.sent));
                if (k.end == End::Reset) {
                    s.ResetData();
                } else {
                    s.CloseData();
                }
                s.Send("226 Transfer complete.\r\n");
            }
            s.Expect("QUIT", "221 bye\r\n");
        });
        Client c(server.Port());
        c.ftp.Passive = true;
        c.ftp.TimeOut = 5000;  // a regression fails instead of hanging
        c.ftp.Connect();
        c.ftp.SetTransferType(2);
        std::vector<std::string> raised;
        for (const auto& k : cases) {
            SCOPED_TRACE(k.name);
            {
                std::ofstream old(target, std::ios::binary | std::ios::trunc);
                old << std::string(payload.size() + 70000, 'z');
            }
            try {
                c.ftp.Download("song", target);
                raised.emplace_back();
            } catch (const std::exception& e) {
                raised.emplace_back(e.what());
            }
            // Exactly what came, and no room held past it but the last block.
            const std::string kept = ReadFile(target);
            if (k.end != End::Reset) {
                EXPECT_EQ(kept, payload.substr(0, k.sent));
            } else {
                EXPECT_EQ(kept, payload.substr(0, kept.size()));
            }
            EXPECT_LE(AllocatedBytes(target), std::int64_t(kept.size()) + 65536);
            EXPECT_TRUE(c.ftp.Connected());
        }
        c.ftp.Disconnect();
        EXPECT_EQ(server.Error(), "");
        return raised;
    }

private:
    int descriptors_ = 0;
};

std::vector<Case> HostileSizes(std::size_t size) {
    const std::string n = std::to_string(size);
    return {
        {"true size", "150 Opening (" + n + " bytes).\r\n", size, End::Complete, false},
        {"larger than sent", "150 Opening (" + std::to_string(size * 40) + " bytes).\r\n", size, End::Complete, true},
        {"smaller than sent", "150 Opening (1000 bytes).\r\n", size, End::Complete, false},
        {"absurd", "150 Opening (1000000000000000000 bytes).\r\n", size, End::Complete, true},
        {"negative", "150 Opening (-" + n + " bytes).\r\n", size, End::Complete, false},
        {"too many digits", "150 Opening (99999999999999999999999 bytes).\r\n", size, End::Complete, false},
        {"zero", "150 Opening (0 bytes).\r\n", size, End::Complete, false},
        {"grows on the last line",
         "150-Opening (1000 bytes).\r\n150-Really (" + std::to_string(size * 40) + " bytes).\r\n" +
             "150 Opening (" + std::to_string(size * 30) + " bytes).\r\n",
         size, End::Complete, true},
        {"shrinks on the last line", "150-Opening (" + std::to_string(size * 40) + " bytes).\r\n150 Ok (7 bytes).\r\n",
         size, End::Complete, false},
        {"cut short", "150 Opening (" + std::to_string(size * 40) + " bytes).\r\n", size / 3, End::Short, true},
        {"reset", "150 Opening (" + std::to_string(size * 40) + " bytes).\r\n", size / 2, End::Reset, true},
    };
}

}  // namespace

TEST_F(DownloadRoom, HostileAnnouncedSizesLeaveExactlyTheDataOnDisk) {
    const std::string payload = Payload(150000);
    const auto cases = HostileSizes(payload.size());
    const auto raised = Run(cases, payload, Temp("song.mp3"));
    ASSERT_EQ(raised.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(raised[i].empty(), !cases[i].fails) << raised[i];
    }
}

// On a small disk with little room left: a size larger than what is free changes nothing, a
// download that fits succeeds whatever was announced, one that does not fit fails as a full
// disk with what fitted kept, and the disk has its room back afterwards.
TEST_F(DownloadRoom, NearlyFullDiskFailsOnlyWhenTheDataDoesNotFit) {
    const std::string dir = Temp("small");
    SmallDisk disk(dir, 2 << 20);
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a small disk is not permitted here";
    {
        std::ofstream filler(dir + "/filler", std::ios::binary);
        filler << std::string(1400 << 10, 'f');
    }
    const std::int64_t freeBefore = FreeBytes(dir);
    ASSERT_GT(freeBefore, 500 << 10);
    ASSERT_LT(freeBefore, 700 << 10);
    const std::string target = dir + "/song.mp3";
    // Fits after the old file is cut to nothing, not beside it.
    const std::string fits = Payload(std::size_t(freeBefore) - 100000);
    const auto fitting = HostileSizes(fits.size());
    const auto raised = Run(fitting, fits, target);
    for (std::size_t i = 0; i < fitting.size(); ++i) {
        SCOPED_TRACE(fitting[i].name);
        EXPECT_EQ(raised[i].empty(), !fitting[i].fails) << raised[i];
    }
    ::unlink(target.c_str());
    EXPECT_EQ(FreeBytes(dir), freeBefore) << "room still held";

    // Larger than the whole disk: what fitted stays, the failure is a full disk.
    const std::string huge = Payload(std::size_t(freeBefore) + 300000);
    const std::string quarter = std::to_string(freeBefore / 4);
    const std::vector<Case> tooBig = {
        {"announced half of what is free", "150 Opening (" + quarter + " bytes).\r\n", huge.size(), End::Complete, true},
        {"announced truly", "150 Opening (" + std::to_string(huge.size()) + " bytes).\r\n", huge.size(),
         End::Complete, true},
    };
    for (const auto& k : tooBig) {
        SCOPED_TRACE(k.name);
        ScriptServer server([&](ScriptServer& s) {
            Login(s);
            s.Expect("TYPE I", "200 ok\r\n");
            PassiveRetr(s, "song", k.preliminary);
            try {
                s.SendData(huge);
                s.CloseData();
                s.Send("226 Transfer complete.\r\n");
            } catch (const std::exception&) {
                s.Send("426 aborted\r\n");  // the client dropped the data connection
            }
            s.Expect("ABOR", "226 ABOR ok\r\n");  // told to stop once the disk was full
            s.Expect("QUIT", "221 bye\r\n");
        });
        Client c(server.Port());
        c.ftp.Passive = true;
        c.ftp.TimeOut = 5000;
        c.ftp.Connect();
        c.ftp.SetTransferType(2);
        try {
            c.ftp.Download("song", target);
            ADD_FAILURE() << "a download larger than the disk succeeded";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Code(), 101);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        const std::string kept = ReadFile(target);
        EXPECT_GE(kept.size(), std::size_t(freeBefore) - 65536);
        EXPECT_EQ(kept, huge.substr(0, kept.size()));
        EXPECT_LE(AllocatedBytes(target), std::int64_t(kept.size()) + 65536);
        ::unlink(target.c_str());
        EXPECT_EQ(FreeBytes(dir), freeBefore) << "room still held";
        c.ftp.Disconnect();
        EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }));
    }
}
