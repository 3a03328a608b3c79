// The full search of this machine's own disks (or of TESSALY_DRIVES when set), unattended,
// for each of the 15 patterns of the idle-time sequence in its order: the time of each
// search, how it ended and how many entries its stored list holds.
// Usage: disk_search [pattern ...]   Run it under Xvfb to count the cost of painting.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "platform/Services.h"

namespace {

using Clock = std::chrono::steady_clock;

long Lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return -1;
    long n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<std::string> patterns;
    for (int i = 1; i < argc; ++i) patterns.emplace_back(argv[i]);
    if (patterns.empty())
        patterns = {"*.BMP", "*.ICO", "*.WMP", "*.EMF", "*.GIF", "*.JPG", "*.XLS", "*.DOC",
                    "*.MPG", "*.DAT", "*.MOV", "*.AVI", "*.MID", "*.MP3", "*.WAV"};
    // A private working folder and settings; under /tmp, which the search leaves out.
    char work[] = "/tmp/tessaly-disks-XXXXXX";
    if (!mkdtemp(work)) return 1;
    setenv("XDG_CONFIG_HOME", work, 1);
    QApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::SetCurrentDir(work);
    // The real disks, settings and devices, as the program has them.
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());
    auto windows = std::make_unique<ApplicationWindows>();
    TForm1& form = *Form1;
    form.WorkDir = work;
    form.show();
    QApplication::processEvents();
    form.Timer3->SetEnabled(false);
    form.Timer4->SetEnabled(false);
    std::printf("display: %s; drives:", QGuiApplication::platformName().toUtf8().constData());
    for (const std::string& d : platform::Current().drives->FixedDrives()) std::printf(" %s", d.c_str());
    std::printf("%s\n", std::getenv("TESSALY_DRIVES") ? " (TESSALY_DRIVES)" : "");
    std::printf("%-7s %9s %9s %s\n", "pattern", "seconds", "listed", "stored");
    double total = 0;
    for (const std::string& p : patterns) {
        form.IdleSearchActive = 1;
        form.ComboBox2->setEditText(QString::fromStdString(p));
        const auto start = Clock::now();
        form.SpeedButton1Click();
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        total += s;
        QApplication::processEvents();
        const long stored = Lines(std::string(work) + "/SearchView" + p.substr(1));
        std::printf("%-7s %9.2f %9d %s\n", p.c_str(), s, form.CheckListBox1->Count(),
                    stored < 0 ? "nothing stored" : (std::to_string(stored) + " lines").c_str());
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("total %.1f s, peak memory %.1f MB\n", total, ru.ru_maxrss / 1024.0);
    windows.reset();
    std::filesystem::remove_all(work);
    return 0;
}
