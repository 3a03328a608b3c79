// A data connection captured into a local file, with a hostile peer and a hostile local side:
// odd block shapes, targets that take part in no splice, a full disk between and at block
// boundaries, no descriptors to spare, a stall, a reset, an abort, a handler that destroys the
// socket. Every case ends with as many open descriptors as it began with.
#include <gtest/gtest.h>

#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <thread>

#include "FileSizeLimit.h"
#include "FtpHelpers.h"
#include "net/SockLayer.h"

using namespace testnet;

namespace {

// Every capture here has a time limit: a regression fails instead of hanging.
constexpr std::int64_t kLimit = 5000;

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

std::int64_t SizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Leaves only `spare` descriptors free while it lives, so that a pipe cannot be had.
class DescriptorShortage {
public:
    explicit DescriptorShortage(int spare) {
        ::getrlimit(RLIMIT_NOFILE, &old_);
        rlimit tight = old_;
        tight.rlim_cur = static_cast<rlim_t>(OpenDescriptors() + 64);
        ::setrlimit(RLIMIT_NOFILE, &tight);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers_.push_back(fd);
        for (int i = 0; i < spare && !fillers_.empty(); ++i) {
            ::close(fillers_.back());
            fillers_.pop_back();
        }
    }
    ~DescriptorShortage() {
        for (int fd : fillers_) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &old_);
    }
    DescriptorShortage(const DescriptorShortage&) = delete;
    DescriptorShortage& operator=(const DescriptorShortage&) = delete;

private:
    rlimit old_{};
    std::vector<int> fillers_;
};

// A peer that sends `pieces` one after another, then closes. With `hold`, its thread ends
// only once that is released (or after 10 s): a thread ending while descriptors are short
// trips the sanitizer's own check of the thread's memory, which needs a pipe.
ScriptServer Sender(const std::string& payload, std::vector<std::size_t> pieces, int pauseEvery = 0,
                    std::shared_future<void> hold = {}) {
    return ScriptServer([&payload, pieces = std::move(pieces), pauseEvery, hold](ScriptServer& s) {
        std::size_t at = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            s.Send(payload.substr(at, pieces[i]));
            at += pieces[i];
            if (pauseEvery > 0 && i % pauseEvery == 0) ScriptServer::Pause(1);
        }
        s.CloseControl();
        if (hold.valid()) hold.wait_for(std::chrono::seconds(10));
    });
}

class CaptureFile : public NetTest {
protected:
    void SetUp() override { descriptors_ = OpenDescriptors(); }
    void TearDown() override { EXPECT_EQ(OpenDescriptors(), descriptors_) << "descriptors leaked"; }

private:
    int descriptors_ = 0;
};

}  // namespace

TEST_F(CaptureFile, EveryBlockShapeArrivesByteForByte) {
    struct Case {
        const char* name;
        std::vector<std::size_t> pieces;
        int pauseEvery;
    };
    const std::vector<Case> cases = {
        {"nothing", {}, 0},
        {"one byte", {1}, 0},
        {"a byte at a time", std::vector<std::size_t>(3000, 1), 50},
        {"odd sizes", {4095, 1, 4097, 65535, 2, 65537, 123457}, 1},
        {"one whole block", {65536}, 0},
        {"two whole blocks", {131072}, 0},
        {"a megabyte and three", {(1u << 20) + 3}, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        std::size_t total = 0;
        for (auto p : k.pieces) total += p;
        const std::string payload = Payload(total);
        auto server = Sender(payload, k.pieces, k.pauseEvery);
        auto sock = ConnectTo(server.Port(), kLimit);
        const std::string path = Temp("capture.bin");
        int packets = 0;
        // Each block is in the file before its event says so.
        sock->OnPacketRecvd = [&](TBlockingSocket* sender) {
            ++packets;
            EXPECT_EQ(SizeOf(path), sender->BytesRecvd());
        };
        sock->CaptureFile(path);
        EXPECT_EQ(ReadFile(path), payload);
        EXPECT_EQ(sock->BytesRecvd(), static_cast<std::int64_t>(total));
        EXPECT_EQ(packets > 0, total > 0);
        EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }));
        EXPECT_EQ(server.Error(), "");
    }
}

// A FIFO with a slow reader, the null device, and a device that is always full: none of them
// takes a block the way a plain file does, yet each must get what a plain write gives it.
TEST_F(CaptureFile, TargetsThatAreNoPlainFile) {
    const std::string payload = Payload((1u << 20) + 77);
    {
        SCOPED_TRACE("FIFO");
        const std::string fifo = Temp("fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::string read;
        std::thread reader([&] {
            int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
            char buf[4096];
            for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;) {
                read.append(buf, static_cast<std::size_t>(n));
                ScriptServer::Pause(1);  // slower than the network: the FIFO fills up
            }
            if (fd >= 0) ::close(fd);
        });
        // A FIFO nobody has opened yet is refused as having no reader; this one has a reader
        // from the start, whenever the reader's thread gets to its own open.
        const int present = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(present, 0);
        auto server = Sender(payload, {payload.size()});
        auto sock = ConnectTo(server.Port(), kLimit);
        try {
            sock->CaptureFile(fifo);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        ::close(present);
        reader.join();
        EXPECT_EQ(read.size(), payload.size());
        EXPECT_TRUE(read == payload);
        EXPECT_EQ(sock->BytesRecvd(), static_cast<std::int64_t>(payload.size()));
    }
    {
        SCOPED_TRACE("/dev/null");
        auto server = Sender(payload, {payload.size()});
        auto sock = ConnectTo(server.Port(), kLimit);
        sock->CaptureFile("/dev/null");
        EXPECT_EQ(sock->BytesRecvd(), static_cast<std::int64_t>(payload.size()));
    }
    {
        SCOPED_TRACE("/dev/full");
        auto server = Sender(payload, {payload.size()});
        auto sock = ConnectTo(server.Port(), kLimit);
        int packets = 0;
        sock->OnPacketRecvd = [&](TBlockingSocket*) { ++packets; };
        try {
            sock->CaptureFile("/dev/full");
            ADD_FAILURE() << "a full device took the download";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Code(), 101);
        }
        EXPECT_EQ(packets, 0);
    }
}

// The disk fills in the middle of a block, exactly at a block's end, or at once; with a pipe
// and without one. The capture fails and keeps exactly what fitted.
TEST_F(CaptureFile, FullDiskFailsAndKeepsWhatFitted) {
    const std::string payload = Payload(400000);
    for (bool pipe : {true, false}) {
        for (rlim_t limit : {rlim_t(100001), rlim_t(65536), rlim_t(131072), rlim_t(1)}) {
            SCOPED_TRACE(std::string(pipe ? "with" : "without") + " a pipe, limit " + std::to_string(limit));
            std::promise<void> release;
            auto server = Sender(payload, {65536, 65536, 65536, 65536, 65536, 65536, 6784}, 1,
                                 release.get_future().share());
            auto sock = ConnectTo(server.Port(), kLimit);
            const std::string path = Temp("full.bin");
            // The peer must have accepted before descriptors run short.
            ASSERT_TRUE(PumpUntil([&] { return sock->DataAvailable(); }));
            try {
                FileSizeLimit full(limit);
                std::optional<DescriptorShortage> shortage;
                if (!pipe) shortage.emplace(1);  // the file's descriptor, no pipe's
                sock->CaptureFile(path);
                ADD_FAILURE() << "the capture went past a full disk";
            } catch (const EInOutError& e) {
                EXPECT_EQ(e.Code(), 101);
            }
            release.set_value();
            EXPECT_EQ(ReadFile(path), payload.substr(0, limit));
            EXPECT_LE(sock->BytesRecvd(), static_cast<std::int64_t>(limit));
        }
    }
}

std::int64_t AllocatedBytes(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? std::int64_t{st.st_blocks} * 512 : -1;
}

// Room for the announced size is set aside while the data comes, and what was not filled is
// given back however the capture ends; a size no disk should give is not taken at all.
TEST_F(CaptureFile, AnnouncedRoomIsGivenBackHoweverTheCaptureEnds) {
    const std::int64_t announced = 8 << 20;
    const std::string payload = Payload(300000);
    // Whether this folder's file system sets room aside at all.
    bool reserves = false;
    {
        int fd = ::open(Temp("probe.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        reserves = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 1 << 20) == 0;
        ::close(fd);
    }
    struct Case {
        const char* name;
        std::int64_t announced;
        rlim_t diskLimit;  // 0: room enough
    };
    for (const Case& k : {Case{"exact", std::int64_t(payload.size()), 0}, Case{"cut short", announced, 0},
                          Case{"disk full", announced, 100001}, Case{"absurd size", std::int64_t{1} << 60, 0}}) {
        SCOPED_TRACE(k.name);
        auto server = Sender(payload, {65536, 65536, 65536, 65536, 37856}, 1);
        auto sock = ConnectTo(server.Port(), kLimit);
        const std::string path = Temp("room.bin");
        std::int64_t heldDuring = 0;
        sock->OnPacketRecvd = [&](TBlockingSocket*) { heldDuring = std::max(heldDuring, AllocatedBytes(path)); };
        try {
            std::optional<FileSizeLimit> full;
            if (k.diskLimit) full.emplace(k.diskLimit);
            sock->CaptureFile(path, k.announced);
            EXPECT_EQ(k.diskLimit, rlim_t(0)) << "the capture went past a full disk";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Code(), 101);
        }
        const std::string kept = k.diskLimit ? payload.substr(0, k.diskLimit) : payload;
        EXPECT_EQ(ReadFile(path), kept);
        if (reserves && k.announced < (std::int64_t{1} << 40)) {
            EXPECT_GE(heldDuring, k.announced);
        }
        EXPECT_LT(heldDuring, std::int64_t{1} << 40);
        // Nothing held past the end: at most the last block of the file system.
        EXPECT_LE(AllocatedBytes(path), std::int64_t(kept.size()) + 65536);
        EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }));
    }
}

TEST_F(CaptureFile, WithoutDescriptorsForAPipeTheDownloadStillArrives) {
    const std::string payload = Payload(300001);
    std::promise<void> release;
    auto server = Sender(payload, {1, 70000, 4096, 225904}, 1, release.get_future().share());
    auto sock = ConnectTo(server.Port(), kLimit);
    const std::string path = Temp("nopipe.bin");
    ASSERT_TRUE(PumpUntil([&] { return sock->DataAvailable(); }));
    {
        DescriptorShortage shortage(1);
        sock->CaptureFile(path);
    }
    release.set_value();
    EXPECT_EQ(ReadFile(path), payload);
    EXPECT_EQ(sock->BytesRecvd(), static_cast<std::int64_t>(payload.size()));
}

// A stall ends by the time-out or by an Abort from a timer; a reset raises 10054; a handler
// may abort or destroy the socket. What arrived before stays in the file.
TEST_F(CaptureFile, StallResetAbortAndDestructionEndTheCapture) {
    const std::string payload = Payload(200000);
    enum End { TimeOut, TimerAbort, Reset, HandlerAbort, HandlerDelete };
    for (End end : {TimeOut, TimerAbort, Reset, HandlerAbort, HandlerDelete}) {
        SCOPED_TRACE(end);
        ScriptServer server([&](ScriptServer& s) {
            s.Send(payload.substr(0, 150000));
            if (end == Reset) {
                s.WaitGo();
                s.ResetControl();  // here the control connection is the captured one
                return;
            }
            s.WaitGo();
            s.CloseControl();
        });
        auto sock = ConnectTo(server.Port(), kLimit).release();
        bool deleted = false;
        const std::string path = Temp("end.bin");
        if (end == TimeOut) sock->TimeOut = 100;
        if (end == TimerAbort) QTimer::singleShot(100, [&] { sock->Abort(); });
        if (end == Reset) {
            // The reset comes once every byte sent is on its way.
            QTimer::singleShot(50, [&] { server.Go(); });
        }
        if (end == HandlerAbort) sock->OnPacketRecvd = [&](TBlockingSocket* s) { s->Abort(); };
        if (end == HandlerDelete)
            sock->OnPacketRecvd = [&](TBlockingSocket* s) {
                delete s;
                deleted = true;
            };
        try {
            sock->CaptureFile(path);
            ADD_FAILURE() << "the capture did not end with an error";
        } catch (const EAbortError&) {
            EXPECT_NE(end, Reset);
        } catch (const ESockError& e) {
            EXPECT_EQ(end, Reset);
            EXPECT_EQ(sock->LastError(), 10054) << e.what();
        }
        const std::string got = ReadFile(path);
        EXPECT_EQ(got, payload.substr(0, got.size()));
        if (end == TimeOut || end == TimerAbort) {
            EXPECT_EQ(got.size(), 150000u);
            EXPECT_EQ(sock->TimedOut(), end == TimeOut);
        }
        if (end != Reset) server.Go();
        if (!deleted) delete sock;
        EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }));
    }
}

// A peer may mark a byte urgent. It is not part of the file, and the bytes after it are:
// whether they follow at once, after a pause, or with the close.
TEST_F(CaptureFile, UrgentByteIsSteppedOver) {
    const std::string payload = Payload(200000);
    for (int pause : {0, 50}) {
        for (bool closeAtOnce : {true, false}) {
            SCOPED_TRACE("pause " + std::to_string(pause) + (closeAtOnce ? ", close at once" : ""));
            ScriptServer server([&](ScriptServer& s) {
                s.Send(payload.substr(0, 100000));
                s.SendUrgent('!');
                ScriptServer::Pause(pause);
                s.Send(payload.substr(100000));
                if (!closeAtOnce) ScriptServer::Pause(50);
                s.CloseControl();
            });
            auto sock = ConnectTo(server.Port(), kLimit);
            const std::string path = Temp("urgent.bin");
            try {
                sock->CaptureFile(path);
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
            EXPECT_EQ(SizeOf(path), static_cast<std::int64_t>(payload.size()));
            EXPECT_TRUE(ReadFile(path) == payload);
            EXPECT_EQ(sock->BytesRecvd(), static_cast<std::int64_t>(payload.size()));
            EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }));
        }
    }
}

// A peer that never pauses still leaves the user's cancel its turn: an Abort from a timer ends
// the capture long before the stream would.
TEST_F(CaptureFile, AbortEndsAStreamThatNeverPauses) {
    const std::string chunk = Payload(65536);
    constexpr std::int64_t kChunks = 65536;  // 4 GiB: far more than arrives before the Abort
    ScriptServer server([&](ScriptServer& s) {
        try {
            for (std::int64_t i = 0; i < kChunks; ++i) s.Send(chunk);
        } catch (const std::exception&) {
            // The client gave up and dropped the connection.
        }
    });
    auto sock = ConnectTo(server.Port(), kLimit);
    ASSERT_TRUE(PumpUntil([&] { return sock->DataAvailable(); }));
    QTimer::singleShot(30, [&] { sock->Abort(); });
    EXPECT_THROW(sock->CaptureFile("/dev/null"), EAbortError);
    EXPECT_GT(sock->BytesRecvd(), 0);
    EXPECT_LT(sock->BytesRecvd(), kChunks * 65536);
    EXPECT_FALSE(sock->TimedOut());
    sock.reset();
    EXPECT_TRUE(PumpUntil([&] { return server.Finished(); }, 10000));
}
