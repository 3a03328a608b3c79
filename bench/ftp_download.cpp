// Download speed, responsiveness and idle cost of the FTP client.
//   ftp_download download <port> <remote> <local>   download once: speed, CPU, and the longest
//                                                   gap between two event-loop turns
//   ftp_download abort <port> <remote> <local> <ms> Abort from a timer after <ms>: the time
//                                                   from Abort to Download returning
//   ftp_download idle <seconds>                     wait on a silent scripted server
#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "net/FtpClient.h"

namespace {

double CpuSeconds(bool kernelOnly = false) {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    double kernel = u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
    return kernelOnly ? kernel : kernel + u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6;
}

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Login(TFtpClient& ftp, int port) {
    ftp.Host = "127.0.0.1";
    ftp.Port = port;
    ftp.UserID = "anonymous";
    ftp.Password = "bench@example.com";
    ftp.Passive = true;
    ftp.Connect();
    ftp.SetTransferType(2);
}

// A GUI timer as short as the event loop allows: the longest time between two of its ticks
// while data flows is the longest the GUI had to wait for its turn.
struct TurnGaps {
    QTimer tick;
    bool measuring = false;
    Clock::time_point last;
    Clock::duration longest{};
    TurnGaps() {
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            auto now = Clock::now();
            if (measuring) longest = std::max(longest, now - last);
            last = now;
        });
        tick.start(1);
    }
    void Start() {
        measuring = true;
        last = Clock::now();
    }
    void Stop() {
        if (!measuring) return;
        longest = std::max(longest, Clock::now() - last);
        measuring = false;
    }
};

int Download(int port, const std::string& remote, const std::string& local) {
    TFtpClient ftp;
    Login(ftp, port);
    TurnGaps gaps;
    ftp.OnTransactionStart = [&](TBlockingSocket*) { gaps.Start(); };
    ftp.OnTransactionStop = [&](TBlockingSocket*) { gaps.Stop(); };
    double cpu0 = CpuSeconds(), kernel0 = CpuSeconds(true);
    auto t0 = Clock::now();
    ftp.Download(remote, local);
    double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    double cpu = CpuSeconds() - cpu0, kernel = CpuSeconds(true) - kernel0;
    ftp.Disconnect();
    std::printf("client: %lld bytes in %.3f s = %.1f MB/s, CPU %.3f s (%.0f%% kernel), longest event-loop gap %.1f ms\n",
                static_cast<long long>(ftp.BytesTotal()), secs, ftp.BytesTotal() / secs / 1e6, cpu,
                cpu > 0 ? 100 * kernel / cpu : 0.0, Ms(gaps.longest));
    return 0;
}

int AbortAfter(int port, const std::string& remote, const std::string& local, int ms) {
    TFtpClient ftp;
    Login(ftp, port);
    Clock::time_point aborted{};
    std::int64_t atAbort = 0;
    QTimer::singleShot(ms, [&] {
        atAbort = ftp.BytesRecvd();
        aborted = Clock::now();
        ftp.Abort();
    });
    try {
        ftp.Download(remote, local);
        std::printf("abort: the download ended before the Abort\n");
        return 1;
    } catch (const EAbortError&) {
    }
    auto returned = Clock::now();
    std::printf("abort: after %lld bytes, Download returned %.2f ms after Abort\n", static_cast<long long>(atAbort),
                Ms(returned - aborted));
    ftp.Disconnect();
    return 0;
}

// A server that greets, accepts the log-in and then says nothing while the client waits.
int Idle(double seconds) {
    int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(lfd, 1);
    socklen_t len = sizeof a;
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread server([lfd, seconds] {
        int c = ::accept(lfd, nullptr, nullptr);
        auto say = [c](const char* s) { ::send(c, s, std::strlen(s), 0); };
        char buf[256];
        say("220 ready\r\n");
        ::recv(c, buf, sizeof buf, 0);
        say("230 ok\r\n");
        ::recv(c, buf, sizeof buf, 0);  // NOOP: answered only after the silence
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        say("200 finally\r\n");
        ::recv(c, buf, sizeof buf, 0);
        ::close(c);
    });
    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = ntohs(a.sin_port);
    ftp.UserID = "u";
    ftp.Password = "p";
    ftp.Connect();
    int ticks = 0;
    QTimer gui;  // the GUI's own timers keep running during the wait
    QObject::connect(&gui, &QTimer::timeout, [&] { ++ticks; });
    gui.start(500);
    double cpu0 = CpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    ftp.SendCommand("NOOP");
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = CpuSeconds() - cpu0;
    std::printf("idle: waited %.2f s for the reply, CPU %.4f s (%.3f%% of a core), %d GUI timer ticks ran\n", secs,
                cpu, 100.0 * cpu / secs, ticks);
    ftp.Disconnect();
    server.join();
    ::close(lfd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    try {
        std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "download" && argc == 5) return Download(std::atoi(argv[2]), argv[3], argv[4]);
        if (mode == "abort" && argc == 6) return AbortAfter(std::atoi(argv[2]), argv[3], argv[4], std::atoi(argv[5]));
        if (mode == "idle") return Idle(argc > 2 ? std::atof(argv[2]) : 3.0);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: %s download <port> <remote> <local> | abort <port> <remote> <local> <ms> | idle [seconds]\n",
                 argv[0]);
    return 2;
}
