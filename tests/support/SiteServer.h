#pragma once
// The demo music site started on a free loopback port for one test, serving a folder the
// test fills, with a log of every command line it received. TESSALY_SITE points the
// program at it while the object lives.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testsite {

class SiteServer {
public:
    // `root` must hold header.txt; extra are further arguments of the site program.
    SiteServer(const std::string& root, const std::string& logPath, const std::vector<std::string>& extra = {})
        : log_(logPath) {
        std::vector<std::string> args = {"/usr/bin/python3", std::string(TESSALY_SOURCE_DIR) + "/scripts/demo-site.py",
                                         "--root", root, "--command-log", logPath};
        args.insert(args.end(), extra.begin(), extra.end());
        int pipeFd[2];
        if (pipe(pipeFd) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
        std::string err = logPath + ".stderr";
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFd[1]);
        if (rc != 0) {
            close(pipeFd[0]);
            throw std::runtime_error("cannot start the demo site");
        }
        std::string text;
        pollfd p{pipeFd[0], POLLIN, 0};
        char c;
        while (text.find('\n') == std::string::npos && poll(&p, 1, 15000) > 0 && read(pipeFd[0], &c, 1) == 1) text += c;
        close(pipeFd[0]);
        if (text.rfind("PORT ", 0) != 0) {
            std::ifstream in(err);
            std::stringstream ss;
            ss << in.rdbuf();
            throw std::runtime_error("the demo site did not start: " + ss.str());
        }
        port_ = std::atoi(text.c_str() + 5);
        std::string site = "127.0.0.1:" + std::to_string(port_);
        setenv("TESSALY_SITE", site.c_str(), 1);
    }

    ~SiteServer() {
        unsetenv("TESSALY_SITE");
        Stop();
    }

    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    int Port() const { return port_; }

    // The command lines received so far, as the server read them.
    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        std::ifstream in(log_, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) out.push_back(line);
        return out;
    }

private:
    std::string log_;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace testsite
