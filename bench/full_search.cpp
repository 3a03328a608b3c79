// The full search against find(1) on one generated tree, in one run, alternating rounds.
// Usage: full_search [tree-folder] [rounds]   (default /tmp/tessaly-search-tree, 5)
// The tree (about 300,000 files in 30,000 folders) is made on the first run and kept.
// Then: a quick search of a stored list of 100,000 lines, and a keyword filter of
// 1,000,000 entries on screen. Run it under Xvfb to count the cost of painting.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "platform/Services.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct Rng {
    unsigned long long s = 20240611;
    unsigned Next() {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>(s >> 33);
    }
    unsigned Below(unsigned n) { return Next() % n; }
};

struct Folder {
    std::string path;  // ending with "/"
    int depth;
    bool walkable;  // every name on the way is free of dots
};

struct Tree {
    std::vector<Folder> folders;
    std::vector<std::string> files;
    long fileCount = 0;
    long findMatches = 0, ourMatches = 0;
    long hiddenFile = 0, inDotFolder = 0, belowLimit = 0;
};

bool IsMp3(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".mp3";
}

// The same tree every time: folders breadth first, a few chains deeper than 17 levels.
Tree Plan(const std::string& root, bool keepFiles) {
    Rng rng;
    Tree t;
    t.folders.push_back({root + "/", 0, true});
    const int kFolders = 30000, kChains = 6, kChainDepth = 24;
    for (size_t i = 0; t.folders.size() < kFolders - kChains * kChainDepth && i < t.folders.size(); ++i) {
        const Folder parent = t.folders[i];
        int subs = parent.depth < 2 ? 12 : 2 + static_cast<int>(rng.Below(4));
        for (int k = 0; k < subs; ++k) {
            unsigned kind = rng.Below(100);
            std::string name = kind < 5   ? "My.Folder" + std::to_string(k)
                               : kind < 8 ? ".cache" + std::to_string(k)
                                          : "Folder " + std::to_string(k);
            bool walk = parent.walkable && name.find('.') == std::string::npos;
            t.folders.push_back({parent.path + name + "/", parent.depth + 1, walk});
        }
    }
    for (int c = 0; c < kChains; ++c) {
        Folder at = t.folders[1 + static_cast<size_t>(c)];
        for (int d = 0; d < kChainDepth; ++d) {
            at = {at.path + "deep" + std::to_string(d) + "/", at.depth + 1, at.walkable};
            t.folders.push_back(at);
        }
    }
    const char* exts[] = {".txt", ".jpg", ".wav", ".dat", ".doc", ".ogg", ".png", ".flac", ".cfg"};
    const char* mp3[] = {".mp3", ".MP3", ".Mp3", ".mP3"};
    long serial = 0, files = 0;
    for (const Folder& f : t.folders) {
        int count = static_cast<int>(rng.Below(19)) + 1;
        for (int k = 0; k < count; ++k) {
            unsigned kind = rng.Below(1000);
            std::string name;
            if (kind < 20)
                name = "Track " + std::to_string(serial) + mp3[rng.Below(4)];
            else if (kind < 24)
                name = ".hidden " + std::to_string(serial) + ".mp3";
            else if (kind < 34)
                name = "README" + std::to_string(serial);
            else if (kind < 60)
                name = ".dotfile" + std::to_string(serial);
            else
                name = "file " + std::to_string(serial) + exts[rng.Below(9)];
            ++serial;
            ++files;
            if (keepFiles) t.files.push_back(f.path + name);
            if (!IsMp3(name)) continue;
            ++t.findMatches;
            if (name[0] == '.')
                ++t.hiddenFile;
            else if (!f.walkable)
                ++t.inDotFolder;
            else if (f.depth > 16)
                ++t.belowLimit;
            else
                ++t.ourMatches;
        }
    }
    t.fileCount = files;
    return t;
}

void Make(const Tree& t, const std::string& root) {
    std::printf("making the tree under %s ...\n", root.c_str());
    std::fflush(stdout);
    for (const Folder& f : t.folders) ::mkdir(f.path.c_str(), 0755);
    for (const std::string& p : t.files) {
        int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd >= 0) ::close(fd);
    }
    std::FILE* done = std::fopen((root + "/.complete").c_str(), "w");
    if (done) std::fclose(done);
}

// Runs find and counts the lines it prints.
double TimeFind(const std::string& root, long* count) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        execlp("find", "find", root.c_str(), "-iname", "*.mp3", "-type", "f", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buf[65536];
    long lines = 0;
    for (ssize_t r; (r = read(fds[0], buf, sizeof buf)) > 0;) lines += std::count(buf, buf + r, '\n');
    close(fds[0]);
    int ws = 0;
    waitpid(pid, &ws, 0);
    *count = lines;
    return Seconds(start);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string root = argc > 1 ? argv[1] : "/tmp/tessaly-search-tree";
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    struct stat st{};
    if (::stat((root + "/.complete").c_str(), &st) != 0) {
        // Made in a child, so that the paths it holds do not count in the peak below.
        pid_t pid = fork();
        if (pid == 0) {
            ::mkdir(root.c_str(), 0755);
            Make(Plan(root, true), root);
            _exit(0);
        }
        int ws = 0;
        waitpid(pid, &ws, 0);
    }
    Tree tree = Plan(root, false);
    std::printf("tree: %zu folders, %ld files\n", tree.folders.size(), tree.fileCount);
    std::vector<Folder>().swap(tree.folders);

    // A private working folder and settings, so the program's own files stay out of the way.
    char work[] = "/tmp/tessaly-bench-XXXXXX";
    if (!mkdtemp(work)) return 1;
    setenv("XDG_CONFIG_HOME", work, 1);
    setenv("TESSALY_DRIVES", root.c_str(), 1);
    QApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::SetCurrentDir(work);
    // The real disks, settings and devices, as the program has them.
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());
    auto windows = std::make_unique<ApplicationWindows>();
    TForm1& form = *Form1;
    form.WorkDir = work;
    form.SpeedButton4Click();
    form.show();
    QApplication::processEvents();
    // Unattended: no question, no closing message. The idle timers stay off, or an idle
    // check between rounds would switch the searches back to asking.
    form.Timer3->SetEnabled(false);
    form.Timer4->SetEnabled(false);
    form.IdleSearchActive = 1;
    form.ComboBox2->setEditText(QStringLiteral("*.MP3"));
    {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("display: %s, memory with the windows shown: %.1f MB\n",
                    QGuiApplication::platformName().toUtf8().constData(), ru.ru_maxrss / 1024.0);
    }

    long findCount = 0;
    int ourCount = 0;
    auto ours = [&] {
        auto start = Clock::now();
        form.SpeedButton1Click();
        double s = Seconds(start);
        ourCount = form.CheckListBox1->Count();
        QApplication::processEvents();
        return s;
    };
    ours();  // warm the caches for both
    TimeFind(root, &findCount);
    std::vector<double> ourTimes, findTimes, ratios;
    for (int r = 0; r < rounds; ++r) {
        double a = ours();
        double b = TimeFind(root, &findCount);
        ourTimes.push_back(a);
        findTimes.push_back(b);
        ratios.push_back(a / b);
        std::printf("round %d: full search %.3f s, find %.3f s, ratio %.2f\n", r + 1, a, b, a / b);
    }
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("median: full search %.3f s, find %.3f s, ratio of medians %.2f, median ratio %.2f\n",
                Median(ourTimes), Median(findTimes), Median(ourTimes) / Median(findTimes), Median(ratios));
    std::printf("peak memory of the process running the full search: %.1f MB\n", self.ru_maxrss / 1024.0);
    std::printf("matches: full search %d, find %ld\n", ourCount, findCount);
    std::printf("  find also lists: %ld hidden files (.name), %ld inside folders whose name has a dot "
                "(.cache, My.Folder), %ld more than 16 levels below the root\n",
                tree.hiddenFile, tree.inDotFolder, tree.belowLimit);
    std::printf("  expected by those rules: %ld; the walk ends interrupted (folders below level 16), "
                "so nothing is stored\n",
                tree.ourMatches);

    // Quick search of a stored list of 100,000 lines.
    {
        platform::TextFileWriter out(form.WorkPath("SearchView.MP3"), platform::TextFileWriter::Mode::Rewrite);
        for (int i = 0; i < 100000; ++i)
            out.WriteLine("/home/user/Music/Artist " + std::to_string(i % 500) + "/Album/Track " + std::to_string(i) +
                          ".mp3");
        out.Close();
    }
    auto start = Clock::now();
    form.SpeedButton2Click();
    QApplication::processEvents();
    std::printf("quick search of a stored list of %d lines: %.3f s\n", form.CheckListBox1->Count(), Seconds(start));

    // Keyword filter of 1,000,000 entries on screen (no stored list for a keyword without dot).
    form.CheckListBox1->Clear();
    for (int i = 0; i < 1000000; ++i)
        form.CheckListBox1->Add("/home/user/Music/Artist " + std::to_string(i % 500) + "/Album/Track " +
                                std::to_string(i) + ".mp3");
    QApplication::processEvents();
    form.ComboBox2->setEditText(QStringLiteral("track 12345"));
    start = Clock::now();
    form.SpeedButton2Click();
    QApplication::processEvents();
    std::printf("keyword filter of 1000000 entries on screen: %.3f s, %d left\n", Seconds(start),
                form.CheckListBox1->Count());
    windows.reset();
    std::string rm = std::string("rm -rf ") + work;
    return std::system(rm.c_str()) == 0 ? 0 : 1;
}
