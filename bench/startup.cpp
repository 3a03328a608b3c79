// Time from process start to the main window painted, measured beside an empty Qt window of
// the same size (startup_empty_window), the two alternating round by round in one run so that
// the load of a shared machine falls on both alike. Each start runs in a fresh empty folder.
// Offscreen unless a display is set. Then the shared libraries each has mapped at its first
// paint, and those only one of them maps. Usage: startup [rounds]   (default 10)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/TForm1.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Start {
    double toShown = 0;  // seconds from the start to "shown"
    double cpu = 0;      // processor seconds of the whole run, to its end
    std::set<std::string> libraries;  // shared libraries mapped at the first paint
};

// Starts `argv` in `folder` and waits for it to print "shown" and end; nothing when it ended
// without saying so. On a busy machine the processor time varies less than the wall time.
std::optional<Start> TimeToShown(const std::vector<std::string>& argv, const std::string& folder) {
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        if (chdir(folder.c_str()) != 0) _exit(126);
        setenv("TESSALY_REPORT_SHOWN", "1", 1);
        if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return std::nullopt;
    }
    char buf[4096];
    std::string got;
    auto end = start;
    bool shown = false;
    // The time ends at "shown"; the list of libraries that follows is read to the end.
    for (;;) {
        const ssize_t r = read(fds[0], buf, sizeof buf);
        if (r <= 0) break;
        got.append(buf, static_cast<size_t>(r));
        if (!shown && got.find("shown") != std::string::npos) {
            shown = true;
            end = std::chrono::steady_clock::now();
        }
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!shown) return std::nullopt;
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    Start result{std::chrono::duration<double>(end - start).count(), seconds(usage.ru_utime) + seconds(usage.ru_stime), {}};
    std::istringstream lines(got);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("library ", 0) == 0) result.libraries.insert(line.substr(8));
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 10);
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = 0;
    const std::string dir = std::filesystem::path(self).parent_path().string();
    const std::vector<std::string> program = {dir + "/tessaly"};
    const std::vector<std::string> empty = {dir + "/startup_empty_window", std::to_string(TForm1::kClientWidth),
                                            std::to_string(TForm1::kClientHeight)};

    std::string base = (std::filesystem::temp_directory_path() / "tessaly-startup.XXXXXX").string();
    if (!mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    std::vector<double> programTimes, emptyTimes, ratios, programCpu, emptyCpu;
    std::set<std::string> programLibraries, emptyLibraries;
    int failed = 0;
    for (int round = 0; round < rounds && !failed; ++round) {
        // A fresh folder per start: no stored lists, no running copy of the program there.
        const std::string folder = base + "/" + std::to_string(round);
        std::filesystem::create_directory(folder);
        std::optional<Start> p, e;
        // The order flips every round, so that neither always runs in the other's wake.
        if (round % 2 == 0) {
            p = TimeToShown(program, folder);
            e = TimeToShown(empty, folder);
        } else {
            e = TimeToShown(empty, folder);
            p = TimeToShown(program, folder);
        }
        if (!p) {
            std::fprintf(stderr, "the program did not report its window\n");
            failed = 1;
        } else if (!e) {
            std::fprintf(stderr, "the empty window did not report itself\n");
            failed = 1;
        } else {
            std::printf("round %2d: program %.1f ms, empty window %.1f ms, ratio %.2f (processor %.1f ms, %.1f ms)\n",
                        round + 1, p->toShown * 1e3, e->toShown * 1e3, p->toShown / e->toShown, p->cpu * 1e3,
                        e->cpu * 1e3);
            programTimes.push_back(p->toShown);
            emptyTimes.push_back(e->toShown);
            ratios.push_back(p->toShown / e->toShown);
            programCpu.push_back(p->cpu);
            emptyCpu.push_back(e->cpu);
            programLibraries = p->libraries;
            emptyLibraries = e->libraries;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    if (failed) return 1;
    std::printf("start-up to main window painted over %d rounds: median %.1f ms (min %.1f, max %.1f)\n", rounds,
                Median(programTimes) * 1e3, *std::min_element(programTimes.begin(), programTimes.end()) * 1e3,
                *std::max_element(programTimes.begin(), programTimes.end()) * 1e3);
    std::printf("empty window of %dx%d painted: median %.1f ms (min %.1f, max %.1f)\n", TForm1::kClientWidth,
                TForm1::kClientHeight, Median(emptyTimes) * 1e3,
                *std::min_element(emptyTimes.begin(), emptyTimes.end()) * 1e3,
                *std::max_element(emptyTimes.begin(), emptyTimes.end()) * 1e3);
    std::printf("median ratio program / empty window: %.2f\n", Median(ratios));
    std::printf("processor time of a whole run, start to end: program %.1f ms, empty window %.1f ms, ratio %.2f\n",
                Median(programCpu) * 1e3, Median(emptyCpu) * 1e3, Median(programCpu) / Median(emptyCpu));
    std::printf("shared libraries mapped at the first paint: program %zu, empty window %zu\n", programLibraries.size(),
                emptyLibraries.size());
    for (const std::string& library : programLibraries)
        if (!emptyLibraries.count(library)) std::printf("  program only: %s\n", library.c_str());
    for (const std::string& library : emptyLibraries)
        if (!programLibraries.count(library)) std::printf("  empty window only: %s\n", library.c_str());
    return 0;
}
