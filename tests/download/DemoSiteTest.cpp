// The demo music site ends with whoever started it, even when that one never stops it.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <string>

extern char** environ;

TEST(DemoSite, EndsWhenItsStarterIsGone) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string root = tmp.path().toStdString();
    // A starter that leaves at once once the site is up, without stopping it.
    const std::string script = "/usr/bin/python3 '" + std::string(TESSALY_SOURCE_DIR) +
                               "/scripts/demo-site.py' --root '" + root + "' >'" + root +
                               "/out' 2>&1 & pid=$!; i=0; "
                               "while ! grep -q '^PORT ' '" + root + "/out' && [ $i -lt 300 ]; do sleep 0.05; i=$((i+1)); done; "
                               "echo $pid";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::string sh = "/bin/sh", dashC = "-c", body = script;
    char* argv[] = {sh.data(), dashC.data(), body.data(), nullptr};
    pid_t starter = -1;
    ASSERT_EQ(posix_spawn(&starter, argv[0], &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char c;
    while (read(out[0], &c, 1) == 1) text += c;
    close(out[0]);
    waitpid(starter, nullptr, 0);
    const pid_t site = static_cast<pid_t>(std::atoi(text.c_str()));
    ASSERT_GT(site, 0);

    int fd = static_cast<int>(syscall(SYS_pidfd_open, site, 0));
    if (fd < 0) {
        ASSERT_EQ(errno, ESRCH);  // already gone
        return;
    }
    pollfd p{fd, POLLIN, 0};
    const bool ended = poll(&p, 1, 10000) == 1;
    close(fd);
    if (!ended) kill(site, SIGKILL);
    EXPECT_TRUE(ended) << "the demo site outlived its starter";
}
