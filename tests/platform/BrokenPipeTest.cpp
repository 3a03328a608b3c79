// Pipes whose reader goes away: every write the program makes fails with an error instead of
// ending the process, and the signal's disposition stays as it was for everything else.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <csignal>

#include "download/ClientCalls.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "search/ResultStore.h"

TEST(BrokenPipe, TextWritesRefuseAPipeInTheFilesPlace) {
    QTemporaryDir tmp;
    const std::string path = tmp.path().toStdString() + "/SearchView.MP3";
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // there while written to
    for (const auto& write : std::vector<std::function<void()>>{
             [&] { store::WriteList(path, 3, [](int i) { return "/x/" + std::to_string(i); }); },
             [&] { store::AppendLine(path, "/x/song.mp3"); }, [&] { platform::ReplaceFileContents(path, "v\n"); }}) {
        try {
            write();
            ADD_FAILURE() << "written";
        } catch (const EInOutError& e) {
            EXPECT_STREQ(e.what(), "ファイルへのアクセスが拒否されました");
        }
        struct stat st{};
        EXPECT_TRUE(::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << "the pipe was replaced";
    }
    ::close(reader);
}

TEST(BrokenPipe, WritesIntoAPipeWithoutReaderFailAndTheProcessGoesOn) {
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    ::close(p[0]);
    EXPECT_THROW(platform::WriteAll(p[1], "data", 4), EInOutError);
    // Standard output nobody reads: the line is lost, nothing else.
    std::fflush(stdout);
    const int saved = ::dup(1);
    ::dup2(p[1], 1);
    download::LogLine("Connection closed by server");
    ::dup2(saved, 1);
    ::close(saved);
    ::close(p[1]);
    // Neither ignored nor left blocked or pending: programs started later get the default.
    struct sigaction now{};
    ::sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    sigset_t mask, pending;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&mask, SIGPIPE) || sigismember(&pending, SIGPIPE));
}
