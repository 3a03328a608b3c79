// Long lines where they enter the program: a catalogue whose curator's message or song line
// is one line of N bytes with no break opportunity, and a stored list holding one line of N
// bytes or N bytes of NUL (a sparse file) between two paths. Prints, per case and round,
// the longest time the window did not answer (the longest gap between two event-loop turns,
// from reading the catalogue to the painted download list window, or from the quick search
// to the painted list), the quick search's own time and the growth of peak memory. Each case runs in a fresh process, killed after the
// time-out and beyond 4 GB of address space.
// Usage: long_lines [rounds] [timeout-seconds] [case:bytes ...]
//   cases: message, song, list, nul   (default: message:4000000 song:4000000
//          list:50000000 nul:2147483648)
// With TESSALY_SHOT_DIR set, the download list window of each catalogue case is saved there.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchServices.h"
#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/TForm5.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "tests/LoopGap.h"
#include "tests/PeakMemory.h"

namespace {

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int One(int argc, char** argv, const std::string& kind, long long bytes) {
    QApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    QTemporaryDir tmp;
    const std::string work = tmp.path().toStdString();
    platform::SetCurrentDir(work);
    InstallBenchServices(work);
    ApplicationWindows windows;
    Form1->show();
    QApplication::processEvents();

    if (kind == "message" || kind == "song") {
        const std::string line(static_cast<size_t>(bytes), 'x');
        const std::string header = kind == "message" ? line + "\r\nsong.wav\r\nshort\r\n"
                                                     : "message\r\nsong.wav\r\n" + line + "\r\n";
        // A catalogue as the end of its transfer leaves it: the next tick shows it.
        auto show = [&](const std::string& text) {
            WriteBytes(work + "/header.txt", text);
            Form1->Download.StartCatalogue();
            Form1->Download.TransferStopped();
            return loopgap::LongestGap([] { Form1->Timer5Timer(); });
        };
        // The list window's first show costs the same for any catalogue: measured apart.
        const double first = show("message\r\nsong.wav\r\nshort\r\n");
        const double gap = show(header);
        // A look at what the user gets, when asked for: TESSALY_SHOT_DIR=folder.
        if (const char* shots = std::getenv("TESSALY_SHOT_DIR"))
            Form5->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/long_lines_%1.png").arg(QString::fromStdString(kind)));
        std::printf("%-7s %11lld bytes: longest event-loop gap %8.3f s (goal 0.2 s; the window's first show %.3f s); "
                    "memo %lld chars, list line %lld chars\n",
                    kind.c_str(), bytes, gap, first, static_cast<long long>(Form5->Memo1->toPlainText().size()),
                    Form5->CheckListBox1->Count() ? static_cast<long long>(Form5->CheckListBox1->Text(0).size()) : -1LL);
        return 0;
    }
    const std::string list = work + "/SearchView.MP3";
    {
        const std::string head = "/music/a.mp3\r\n";
        const std::string tail = "\r\n/music/b.mp3\r\n";
        int fd = ::open(list.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return 1;
        bool ok = ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size());
        if (kind == "list") {
            const std::string chunk(1 << 20, 'y');
            for (long long left = bytes; ok && left > 0; left -= static_cast<long long>(chunk.size()))
                ok = ::write(fd, chunk.data(), static_cast<size_t>(std::min<long long>(left, chunk.size()))) > 0;
        } else {
            // NUL bytes as a hole: the file takes no room on the disk.
            ok = ok && ::lseek(fd, bytes, SEEK_CUR) >= 0;
        }
        ok = ok && ::write(fd, tail.data(), tail.size()) == static_cast<ssize_t>(tail.size());
        ::close(fd);
        if (!ok) return 1;
    }
    Form1->ComboBox2->setEditText(QStringLiteral("*.MP3"));
    QElapsedTimer t;
    double took = 0, gap = 0;
    const long growth = peakmemory::GrowthKiB([&] {
        gap = loopgap::LongestGap([&] {
            t.start();
            Form1->SpeedButton2Click();
            took = t.nsecsElapsed() / 1e9;
        });
    });
    std::printf("%-7s %11lld bytes: quick search %7.3f s, longest event-loop gap with painting %7.3f s (goal 2 s), "
                "peak memory +%7.1f MB (goal < 100 MB), %d entries\n",
                kind.c_str(), bytes, took, gap, growth / 1024.0, Form1->CheckListBox1->Count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc == 4 && std::string(argv[1]) == "--one") return One(1, argv, argv[2], std::atoll(argv[3]));
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int timeout = argc > 2 ? std::max(1, std::atoi(argv[2])) : 120;
    std::vector<std::string> cases;
    for (int i = 3; i < argc; ++i) cases.push_back(argv[i]);
    if (cases.empty()) cases = {"message:4000000", "song:4000000", "list:50000000", "nul:2147483648"};
    int status = 0;
    for (int round = 1; round <= rounds; ++round) {
        std::printf("round %d\n", round);
        for (const std::string& c : cases) {
            const auto colon = c.find(':');
            const std::string kind = c.substr(0, colon);
            const std::string bytes = colon == std::string::npos ? "1000000" : c.substr(colon + 1);
            std::fflush(stdout);
            pid_t pid = fork();
            if (pid == 0) {
                alarm(static_cast<unsigned>(timeout));
                // A reader that grows a line without bound fails here instead of taking the
                // machine's memory.
                const rlimit as{4ull << 30, 4ull << 30};
                setrlimit(RLIMIT_AS, &as);
                execl("/proc/self/exe", argv[0], "--one", kind.c_str(), bytes.c_str(), static_cast<char*>(nullptr));
                _exit(127);
            }
            int ws = 0;
            waitpid(pid, &ws, 0);
            if (WIFSIGNALED(ws) && WTERMSIG(ws) == SIGALRM) {
                std::printf("%-7s %11s bytes: no answer within %d s (killed)\n", kind.c_str(), bytes.c_str(), timeout);
                status = 1;
            } else if (!WIFEXITED(ws) || WEXITSTATUS(ws) != 0) {
                std::printf("%-7s %11s bytes: failed (status %d)\n", kind.c_str(), bytes.c_str(), ws);
                status = 1;
            }
        }
    }
    return status;
}
