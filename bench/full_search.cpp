// The full search against find, bfs and fd on one generated tree, in one run, alternating
// rounds, with the page cache warm and dropped. Measures what the user waits for: from the
// answer to the question box to the closing box.
//
// Usage: full_search [options]
//   --tree DIR      the tree (default /tmp/tessaly-search-tree, or ...-1m with --million)
//   --million       a tree of about 1,000,000 files in 100,000 folders instead of 300,000 in 30,000
//   --rounds N      rounds of each kind (default 5)
//   --warm-only / --cold-only
//   --in-turn       also time the search with every folder read at its turn (no read-ahead)
//   --threads N     helper threads of the read-ahead (default: the program's)
//   --alone         time only Tessaly (for a profiler)
// The tree is made on the first run and kept. Cold rounds need root (they write
// /proc/sys/vm/drop_caches before each run); otherwise they are skipped, and said so.
// Then: a quick search of a stored list of 100,000 lines, and a keyword filter of
// 1,000,000 entries on screen. Run it under Xvfb to count the cost of painting.
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "platform/MessageBoxes.h"
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
Tree Plan(const std::string& root, int folderCount, bool keepFiles) {
    Rng rng;
    Tree t;
    t.folders.push_back({root + "/", 0, true});
    const int kChains = 6, kChainDepth = 24;
    const int wide = folderCount >= 100000 ? 3 : 2;  // levels of 12 subfolders
    for (size_t i = 0; static_cast<int>(t.folders.size()) < folderCount - kChains * kChainDepth && i < t.folders.size();
         ++i) {
        const Folder parent = t.folders[i];
        int subs = parent.depth < wide ? 12 : 2 + static_cast<int>(rng.Below(4));
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
    std::printf("making the tree under %s (%zu folders, %zu files) ...\n", root.c_str(), t.folders.size(),
                t.files.size());
    std::fflush(stdout);
    for (const Folder& f : t.folders) ::mkdir(f.path.c_str(), 0755);
    for (const std::string& p : t.files) {
        int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd >= 0) ::close(fd);
    }
    ::sync();
    std::FILE* done = std::fopen((root + "/.complete").c_str(), "w");
    if (done) std::fclose(done);
}

// Empties the page, dentry and inode caches. False when this process may not.
bool DropCaches() {
    ::sync();
    int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0) return false;
    bool ok = ::write(fd, "3", 1) == 1;
    ::close(fd);
    return ok;
}

struct Run {
    double seconds = 0;
    long lines = 0;
    long peakKb = 0;
};

// Runs a finder, counting the lines it prints; its time from start to end.
Run RunFinder(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Run r;
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    char buf[65536];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) r.lines += std::count(buf, buf + n, '\n');
    close(fds[0]);
    int ws = 0;
    rusage ru{};
    wait4(pid, &ws, 0, &ru);
    r.seconds = Seconds(start);
    r.peakKb = ru.ru_maxrss;
    if (!WIFEXITED(ws) || WEXITSTATUS(ws) == 127) r.lines = -1;
    return r;
}

bool Installed(const char* program) {
    std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// The floor: the folders the walk reads (names free of dots, 17 levels), level by level,
// with raw getdents64 into one large buffer on one thread, entries only counted.
Run RawGetdents(const std::string& root) {
    Run r;
    auto start = Clock::now();
    std::vector<std::string> level{root + "/"}, next;
    static char buf[1 << 16];
    long entries = 0;
    for (int depth = 0; depth < 17 && !level.empty(); ++depth) {
        next.clear();
        for (const std::string& dir : level) {
            int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) continue;
            for (long n; (n = ::syscall(SYS_getdents64, fd, buf, sizeof buf)) > 0;) {
                for (long off = 0; off < n;) {
                    auto* e = reinterpret_cast<dirent64*>(buf + off);
                    off += e->d_reclen;
                    ++entries;
                    if (e->d_name[0] == '.' || e->d_type != DT_DIR || std::strchr(e->d_name, '.')) continue;
                    next.push_back(dir + e->d_name + "/");
                }
            }
            ::close(fd);
        }
        level.swap(next);
    }
    r.seconds = Seconds(start);
    r.lines = entries;
    return r;
}

// This process's peak resident memory in KB since the last ResetPeak (VmHWM).
long PeakKb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    long kb = 0;
    char line[256];
    while (f && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
    if (f) std::fclose(f);
    return kb;
}

// Forgets the peak so far: the bench's own plan of the tree is not the program's memory.
void ResetPeak() {
    malloc_trim(0);
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Answers every question with Yes at once and notes when the answer was given and when
// the closing box came.
class TimedBoxes : public platform::MessageBoxes {
public:
    platform::BoxAnswer Show(platform::BoxKind kind, const QString&) override {
        if (kind == platform::BoxKind::Confirmation) {
            answered = Clock::now();
            return platform::BoxAnswer::Yes;
        }
        closed = Clock::now();
        return platform::BoxAnswer::Ok;
    }
    Clock::time_point answered, closed;
};

struct Contestant {
    std::string name;
    std::function<Run()> run;
    std::vector<double> warm, cold;
    long peakKb = 0;
};

void Report(const char* kind, std::vector<Contestant>& cs) {
    if (cs[0].warm.empty() && std::string(kind) == "warm") return;
    if (cs[0].cold.empty() && std::string(kind) == "cold") return;
    const bool warm = std::string(kind) == "warm";
    std::printf("%s cache, medians of %zu rounds:\n", kind, warm ? cs[0].warm.size() : cs[0].cold.size());
    const std::vector<double>& ours = warm ? cs[0].warm : cs[0].cold;
    for (Contestant& c : cs) {
        const std::vector<double>& t = warm ? c.warm : c.cold;
        if (t.empty()) continue;
        std::vector<double> ratios;
        for (size_t i = 0; i < t.size() && i < ours.size(); ++i) ratios.push_back(ours[i] / t[i]);
        std::printf("  %-28s %7.3f s   Tessaly / this: median ratio %.2f (%.2f-%.2f)\n", c.name.c_str(), Median(t),
                    Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()));
    }
}

double MedianRatio(const std::vector<double>& ours, const std::vector<double>& theirs) {
    std::vector<double> r;
    for (size_t i = 0; i < ours.size() && i < theirs.size(); ++i) r.push_back(ours[i] / theirs[i]);
    return Median(r);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    bool million = false, warmRounds = true, coldRounds = true, inTurnToo = false, alone = false;
    int rounds = 5, threads = -1;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--million") million = true;
        else if (a == "--warm-only") coldRounds = false;
        else if (a == "--cold-only") warmRounds = false;
        else if (a == "--in-turn") inTurnToo = true;
        else if (a == "--alone") alone = true;
        else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--threads" && i + 1 < argc) threads = std::atoi(argv[++i]);
        else if (a == "--tree" && i + 1 < argc) root = argv[++i];
        else if (a[0] != '-' && root.empty()) root = a;
        else if (a[0] != '-') rounds = std::max(1, std::atoi(a.c_str()));
    }
    if (root.empty()) root = million ? "/tmp/tessaly-search-tree-1m" : "/tmp/tessaly-search-tree";
    const int folderCount = million ? 100000 : 30000;
    struct stat st{};
    if (::stat((root + "/.complete").c_str(), &st) != 0) {
        // Made in a child, so that the paths it holds do not count in the peak below.
        pid_t pid = fork();
        if (pid == 0) {
            ::mkdir(root.c_str(), 0755);
            Make(Plan(root, folderCount, true), root);
            _exit(0);
        }
        int ws = 0;
        waitpid(pid, &ws, 0);
    }
    Tree tree = Plan(root, folderCount, false);
    std::printf("tree: %s, %zu folders, %ld files\n", root.c_str(), tree.folders.size(), tree.fileCount);
    std::vector<Folder>().swap(tree.folders);
    ResetPeak();

    // A private working folder and settings, so the program's own files stay out of the way.
    char work[] = "/tmp/tessaly-bench-XXXXXX";
    if (!mkdtemp(work)) return 1;
    setenv("XDG_CONFIG_HOME", work, 1);
    setenv("TESSALY_DRIVES", root.c_str(), 1);
    QApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::SetCurrentDir(work);
    // The real disks, settings and devices, as the program has them; the boxes answer at once.
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());
    auto boxes = std::make_unique<TimedBoxes>();
    TimedBoxes& timed = *boxes;
    platform::Current().boxes = std::move(boxes);
    auto* drives = dynamic_cast<platform::LinuxDrives*>(&*platform::Current().drives);
    platform::ReadAheadOptions ahead;
    if (threads >= 0) ahead.threads = threads;
    drives->SetReadAhead(ahead);
    std::printf("read-ahead: %d helper threads, window %d folders / %zu KB\n", ahead.threads, ahead.window,
                ahead.windowBytes / 1024);
    auto windows = std::make_unique<ApplicationWindows>();
    TForm1& form = *Form1;
    form.WorkDir = work;
    form.SpeedButton4Click();
    form.show();
    QApplication::processEvents();
    // Attended, as a user runs it: the question (answered at once) and the closing box. The
    // idle timers stay off, or an idle check between rounds would switch to unattended.
    form.Timer3->SetEnabled(false);
    form.Timer4->SetEnabled(false);
    form.IdleSearchActive = 0;
    form.ComboBox2->setEditText(QStringLiteral("*.MP3"));
    {
        std::printf("display: %s, memory with the windows shown: %.1f MB\n",
                    QGuiApplication::platformName().toUtf8().constData(), PeakKb() / 1024.0);
    }

    long ourCount = 0;
    auto ours = [&](int helpers) {
        return [&, helpers] {
            platform::ReadAheadOptions o = ahead;
            if (helpers >= 0) o.threads = helpers;
            drives->SetReadAhead(o);
            form.SpeedButton1Click();
            Run r;
            r.seconds = std::chrono::duration<double>(timed.closed - timed.answered).count();
            r.lines = ourCount = form.CheckListBox1->Count();
            QApplication::processEvents();
            return r;
        };
    };
    std::vector<Contestant> cs;
    cs.push_back({"Tessaly", ours(-1), {}, {}, 0});
    if (inTurnToo) cs.push_back({"Tessaly, read in turn", ours(0), {}, {}, 0});
    if (alone) {
        // Cold too unless --warm-only; the walk's own share is printed beside the span.
        for (int r = 0; r < rounds; ++r) {
            const bool cold = coldRounds && (!warmRounds || r % 2) && DropCaches();
            platform::ReadAheadCounts before = drives->ReadAheadDone();
            const double s = cs[0].run().seconds;
            const platform::ReadAheadCounts& c = drives->ReadAheadDone();
            std::printf("Tessaly %s %.3f s: %ld handed over, %ld not reached, %ld failed ahead, %ld not vouched for\n",
                        cold ? "cold" : "warm", s, c.handedOver - before.handedOver, c.notReached - before.notReached,
                        c.failedAhead - before.failedAhead, c.notVouched - before.notVouched);
        }
        windows.reset();
        std::string rm = std::string("rm -rf ") + work;
        return std::system(rm.c_str()) == 0 ? 0 : 1;
    }
    cs.push_back({"find -iname '*.mp3' -type f",
                  [&] { return RunFinder({"find", root, "-iname", "*.mp3", "-type", "f"}); }, {}, {}, 0});
    if (Installed("bfs"))
        cs.push_back({"bfs -iname '*.mp3' -type f",
                      [&] { return RunFinder({"bfs", root, "-iname", "*.mp3", "-type", "f"}); }, {}, {}, 0});
    else
        std::printf("bfs is not installed (bash bench/full_search.sh installs it): left out\n");
    const char* fd = Installed("fdfind") ? "fdfind" : Installed("fd") ? "fd" : nullptr;
    if (fd)
        cs.push_back({"fd -u -i -t f -g '*.mp3'",
                      [&, fd] { return RunFinder({fd, "-u", "-i", "-t", "f", "-g", "*.mp3", root}); }, {}, {}, 0});
    else
        std::printf("fd is not installed (bash bench/full_search.sh installs it): left out\n");
    cs.push_back({"raw getdents64 (the floor)", [&] { return RawGetdents(root); }, {}, {}, 0});

    const bool canDrop = coldRounds && DropCaches();
    if (coldRounds && !canDrop)
        std::printf("cold rounds skipped: the page cache cannot be dropped (writing /proc/sys/vm/drop_caches "
                    "needs root)\n");
    // Warm the caches for all, once.
    for (Contestant& c : cs) c.run();
    for (int r = 0; r < rounds; ++r) {
        for (int cold = 0; cold < 2; ++cold) {
            if (cold ? !canDrop : !warmRounds) continue;
            std::printf("%s round %d:", cold ? "cold" : "warm", r + 1);
            // Each round starts with another contestant.
            for (size_t k = 0; k < cs.size(); ++k) {
                Contestant& c = cs[(k + static_cast<size_t>(r)) % cs.size()];
                if (cold) DropCaches();
                Run run = c.run();
                (cold ? c.cold : c.warm).push_back(run.seconds);
                c.peakKb = std::max(c.peakKb, run.peakKb);
                std::printf("  %s %.3f", c.name.substr(0, c.name.find(' ')).c_str(), run.seconds);
            }
            std::printf("\n");
        }
    }
    const long peakKb = PeakKb();
    Report("warm", cs);
    Report("cold", cs);
    std::printf("peak memory: Tessaly (the whole program, windows shown) %.1f MB", peakKb / 1024.0);
    for (const Contestant& c : cs)
        if (c.peakKb > 0) std::printf(", %s %.1f MB", c.name.substr(0, c.name.find(' ')).c_str(), c.peakKb / 1024.0);
    std::printf("\n");
    auto byName = [&](const char* prefix) -> Contestant* {
        for (Contestant& c : cs)
            if (c.name.rfind(prefix, 0) == 0) return &c;
        return nullptr;
    };
    Contestant *find = byName("find"), *bfs = byName("bfs"), *fdc = byName("fd"), *floor = byName("raw");
    if (!cs[0].warm.empty()) {
        const double f = MedianRatio(cs[0].warm, find->warm);
        std::printf("required warm <= 0.40 x find: %.2f %s", f, f <= 0.4 ? "met" : "NOT MET");
        if (bfs) {
            const double b = MedianRatio(cs[0].warm, bfs->warm);
            std::printf("; below bfs: %.2f %s", b, b < 1 ? "met" : "NOT MET");
        }
        if (fdc) {
            const double d = MedianRatio(cs[0].warm, fdc->warm);
            std::printf("; below fd: %.2f %s", d, d < 1 ? "met" : "NOT MET");
        }
        std::printf("; the floor is %.0f %% of Tessaly's time\n", 100.0 * Median(floor->warm) / Median(cs[0].warm));
    }
    if (!cs[0].cold.empty() && fdc) {
        const double d = MedianRatio(cs[0].cold, fdc->cold);
        std::printf("required cold <= 0.90 x fd: %.2f %s\n", d, d <= 0.9 ? "met" : "NOT MET");
    }
    std::printf("required peak memory < 100 MB: %.1f MB %s\n", peakKb / 1024.0,
                peakKb < 100 * 1024 ? "met" : "NOT MET");
    std::printf("matches: Tessaly %ld, find %ld\n", ourCount, RunFinder({"find", root, "-iname", "*.mp3", "-type", "f"}).lines);
    std::printf("  find also lists: %ld hidden files (.name), %ld inside folders whose name has a dot "
                "(.cache, My.Folder), %ld more than 16 levels below the root\n",
                tree.hiddenFile, tree.inDotFolder, tree.belowLimit);
    std::printf("  expected by those rules: %ld; the walk ends interrupted (folders below level 16), "
                "so nothing is stored\n",
                tree.ourMatches);
    const platform::ReadAheadCounts& done = drives->ReadAheadDone();
    std::printf("read-ahead over all runs: %ld folders handed over, %ld read at their turn, at most %d folders "
                "and %.1f KB held ahead\n",
                done.handedOver, done.readInTurn, done.mostAhead, done.mostBytes / 1024.0);

    // Quick search of a stored list of 100,000 lines.
    form.IdleSearchActive = 1;
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
