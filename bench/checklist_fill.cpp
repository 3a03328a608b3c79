// Fills the main check list as a stored-list read does (one append and one count-label
// update per entry), shows the window and prints the time taken and the peak memory.
// Usage: checklist_fill [entries ...]   (default: 100000 1000000, each in a fresh process)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/TForm1.h"
#include "platform/Fonts.h"
#include "platform/Services.h"
#include "tests/fakes/FakeDesktop.h"

namespace {

long PeakKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int Fill(int argc, char** argv, long entries) {
    QApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::Current().desktop = std::make_unique<platform::FakeDesktop>();
    // Settings of its own: the user's autostart registration must not move the bench.
    QTemporaryDir settings;
    const std::string config = settings.path().toStdString();
    platform::Current().registry = std::make_unique<platform::FileRegistry>(config + "/tessaly", config + "/autostart", "tessaly");
    long before = PeakKiB();
    TForm1 form;
    form.show();
    QApplication::processEvents();
    std::string path = "/home/user/Music/Artist Name/Album Title (2004)/01 - Track Title 000000.mp3";
    const size_t digits = path.size() - 10;
    QElapsedTimer t;
    t.start();
    for (long i = 0; i < entries; ++i) {
        std::string n = std::to_string(i);
        path.replace(digits + 6 - n.size(), n.size(), n);
        form.CheckListBox1->Add(path);
        form.ShowListCount();
    }
    qint64 filled = t.elapsed();
    form.CheckListBox1->Repaint();
    QApplication::processEvents();
    qint64 shown = t.elapsed();
    std::printf("%8ld entries: filled in %6.3f s, shown in %6.3f s, peak memory %6.1f MB (%.1f MB before filling), label \"%s\"\n",
                entries, filled / 1000.0, shown / 1000.0, PeakKiB() / 1024.0, before / 1024.0,
                form.Label8->text().toUtf8().constData());
    return form.CheckListBox1->Count() == entries ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc == 3 && std::string(argv[1]) == "--one") return Fill(1, argv, std::atol(argv[2]));
    std::vector<std::string> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(argv[i]);
    if (counts.empty()) counts = {"100000", "1000000"};
    int status = 0;
    for (const std::string& c : counts) {
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            execl("/proc/self/exe", argv[0], "--one", c.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int ws = 0;
        waitpid(pid, &ws, 0);
        if (!WIFEXITED(ws) || WEXITSTATUS(ws) != 0) status = 1;
    }
    return status;
}
