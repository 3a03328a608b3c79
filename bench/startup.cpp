// Time from process start to the main window painted, over several runs of the program
// (offscreen unless a display is set). Usage: startup [runs]   (default 10)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = 0;
    std::string program = std::string(self).substr(0, std::string(self).rfind('/')) + "/tessaly";
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        int fds[2];
        if (pipe(fds) != 0) return 1;
        auto start = std::chrono::steady_clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            setenv("TESSALY_REPORT_SHOWN", "1", 1);
            if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[64];
        std::string got;
        while (got.find("shown") == std::string::npos) {
            ssize_t r = read(fds[0], buf, sizeof buf);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        auto end = std::chrono::steady_clock::now();
        close(fds[0]);
        int ws = 0;
        waitpid(pid, &ws, 0);
        if (got.find("shown") == std::string::npos) {
            std::fprintf(stderr, "the program did not report its window\n");
            return 1;
        }
        times.push_back(std::chrono::duration<double>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("start-up to main window painted over %d runs: median %.3f s, min %.3f s, max %.3f s\n",
                runs, times[times.size() / 2], times.front(), times.back());
    return 0;
}
