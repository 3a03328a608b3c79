#pragma once
// vsftpd or pyftpdlib started on a free loopback port, serving a temporary folder
// anonymously, and stopped again with the object. A server that cannot start is a test
// failure, never a skip.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testnet {

class RealServer {
public:
    enum Kind { Vsftpd, Pyftpdlib };

    explicit RealServer(Kind kind) {
        char dirTemplate[] = "/tmp/tessaly-ftp-XXXXXX";
        if (!mkdtemp(dirTemplate)) throw std::runtime_error("mkdtemp failed");
        dir_ = dirTemplate;
        root_ = dir_ + "/root";
        mkdir(root_.c_str(), 0755);
        chmod(dir_.c_str(), 0755);  // the server's unprivileged user must reach the files
        if (kind == Vsftpd) StartVsftpd();
        else StartPyftpdlib();
    }

    ~RealServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(10000);
            if (kill(pid_, 0) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
        if (out_ >= 0) close(out_);
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }

    int Port() const { return port_; }
    const std::string& Root() const { return root_; }

private:
    static int FreePort() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        close(fd);
        return ntohs(a.sin_port);
    }

    static bool Accepting(int port) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        return ok;
    }

    void Spawn(const std::vector<std::string>& args, bool captureOut) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipeFd[2] = {-1, -1};
        if (captureOut) {
            if (pipe(pipeFd) != 0) throw std::runtime_error("pipe failed");
            posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
            posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
        }
        std::string log = dir_ + "/server.log";
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (captureOut) {
            close(pipeFd[1]);
            out_ = pipeFd[0];
        }
        if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
    }

    void WaitAccepting(const std::string& what) {
        for (int i = 0; i < 500; ++i) {
            if (Accepting(port_)) return;
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            usleep(10000);
        }
        std::ifstream in(dir_ + "/server.log");
        std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        throw std::runtime_error(what + " did not start: " + log);
    }

    void StartVsftpd() {
        port_ = FreePort();
        std::string conf = dir_ + "/vsftpd.conf";
        std::ofstream(conf) << "listen=YES\nlisten_ipv6=NO\nbackground=NO\n"
                            << "listen_address=127.0.0.1\nlisten_port=" << port_ << "\n"
                            << "anonymous_enable=YES\nno_anon_password=YES\nanon_root=" << root_ << "\n"
                            << "local_enable=NO\nwrite_enable=NO\npasv_enable=YES\nport_enable=YES\n"
                            << "connect_from_port_20=NO\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
                            << "ftp_username=ftp\nnopriv_user=nobody\nuse_localtime=NO\nxferlog_enable=NO\n"
                            << "secure_chroot_dir=/var/run/vsftpd/empty\n";
        mkdir("/var/run/vsftpd", 0755);
        mkdir("/var/run/vsftpd/empty", 0755);
        Spawn({"/usr/sbin/vsftpd", conf}, false);
        WaitAccepting("vsftpd");
    }

    void StartPyftpdlib() {
        std::string script = dir_ + "/server.py";
        std::ofstream(script) << "import sys, logging\n"
                                 "from pyftpdlib.authorizers import DummyAuthorizer\n"
                                 "from pyftpdlib.handlers import FTPHandler\n"
                                 "from pyftpdlib.servers import FTPServer\n"
                                 "logging.basicConfig(level=logging.ERROR)\n"
                                 "a = DummyAuthorizer()\n"
                                 "a.add_anonymous(sys.argv[1])\n"
                                 "FTPHandler.authorizer = a\n"
                                 "s = FTPServer(('127.0.0.1', 0), FTPHandler)\n"
                                 "print(s.address[1], flush=True)\n"
                                 "s.serve_forever()\n";
        Spawn({"/usr/bin/python3", script, root_}, true);
        std::string text;
        pollfd p{out_, POLLIN, 0};
        char c;
        while (text.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 && read(out_, &c, 1) == 1) text += c;
        port_ = std::atoi(text.c_str());
        if (port_ <= 0) port_ = 1;
        WaitAccepting("pyftpdlib");
    }

    std::string dir_, root_;
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
};

}  // namespace testnet
