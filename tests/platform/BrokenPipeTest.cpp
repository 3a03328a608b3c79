// Pipes whose reader goes away: every write the program makes fails with an error instead of
// ending the process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <csignal>

#include "download/ClientEvents.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "search/ResultStore.h"

namespace {

// A pipe in a temporary folder, with a reader that has opened it and then gone.
class LeftPipe : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        path = tmp_.path().toStdString() + "/SearchView.MP3";
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    }
    QTemporaryDir tmp_;
    std::string path;
};

}  // namespace

TEST_F(LeftPipe, TextWritesRefuseThePipeAsAFile) {
    // A reader is there while the write opens it.
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    struct Case {
        const char* name;
        std::function<void()> write;
    };
    const std::vector<Case> cases = {
        {"stored list", [&] { store::WriteList(path, 3, [](int i) { return "/x/" + std::to_string(i); }); }},
        {"log line", [&] { store::AppendLine(path, "/x/song.mp3"); }},
        {"replaced file", [&] { platform::ReplaceFileContents(path, "value\n"); }},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        try {
            k.write();
            ADD_FAILURE() << "written";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Code(), 5);
            EXPECT_STREQ(e.what(), "ファイルへのアクセスが拒否されました");
        }
        struct stat st{};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced";
    }
    ::close(reader);
}

TEST(BrokenPipe, WriteIntoAPipeWithoutReaderFailsAndTheProcessGoesOn) {
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    ::close(p[0]);
    try {
        platform::WriteAll(p[1], "data", 4);
        ADD_FAILURE() << "written";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), EPIPE);
    }
    // The signal stays at its default for everything else: it is neither ignored nor left
    // blocked or pending.
    struct sigaction now{};
    ::sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    sigset_t mask, pending;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, SIGPIPE));
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    ::close(p[1]);
}

TEST(BrokenPipe, StandardOutputWithoutReaderLosesTheLineOnly) {
    std::fflush(stdout);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    ::close(p[0]);
    const int saved = ::dup(1);
    ::dup2(p[1], 1);
    download::LogLine("Connection closed by server");
    ::dup2(saved, 1);
    ::close(saved);
    ::close(p[1]);
    EXPECT_FALSE(std::ferror(stdout));
}
