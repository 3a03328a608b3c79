// Saves stopped at every step: a child process runs the real save and is killed at its Nth
// step (before it, or in the middle of a write), then the parent reads what is on the disk as
// the next start would. Every save also meets a full disk and a read-only working folder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Fixtures.h"
#include "app/TForm1.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "search/ResultStore.h"

extern char** environ;

namespace {

using V = std::vector<std::string>;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The list a full search of many folders stores: more than one write's worth of lines.
std::string ListLine(int i) { return "/media/disk" + std::to_string(i % 7) + "/folder " + std::to_string(i) + "/song.mp3"; }
constexpr int kListLines = 3000;
std::string WholeList() {
    std::string s;
    for (int i = 0; i < kListLines; ++i) s += ListLine(i) + "\r\n";
    return s;
}

std::string SongData() {
    std::string s(200000, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 7919) >> 3);
    return s;
}

const std::string kOldValue = "\"/old/place/kdr.exe\"";
const std::string kNewValue = "\"/new/place/kdr.exe\"";
const std::string kLogged = "/work/a song whose path is long enough to be torn.mp3";

// --- the child ---

int g_stopAt = 0;
bool g_tear = false;
int g_steps = 0;
std::string g_markPath;

const char* StepName(platform::FileStep s) {
    switch (s) {
        case platform::FileStep::Create: return "create";
        case platform::FileStep::Write: return "write";
        case platform::FileStep::Sync: return "sync";
        case platform::FileStep::Rename: return "rename";
        case platform::FileStep::Truncate: return "truncate";
    }
    return "?";
}

void KillAtStep(platform::FileStep step, int fd, const char* data, std::size_t size) {
    if (++g_steps != g_stopAt) return;
    // Tell the parent where it stopped, with calls the hook does not see.
    int mark = ::open(g_markPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (mark >= 0) {
        const char* name = StepName(step);
        (void)!::write(mark, name, std::strlen(name));
        ::close(mark);
    }
    if (g_tear && step == platform::FileStep::Write && size > 1) (void)!::write(fd, data, size / 2);
    ::raise(SIGKILL);
}

// Runs one save as the program does, with the hook armed from the environment.
class DISABLED_CrashChild : public MainWindowFixture {};

TEST_F(DISABLED_CrashChild, Save) {
    const char* save = std::getenv("TESSALY_CRASH_SAVE");
    const char* where = std::getenv("TESSALY_CRASH_DIR");
    ASSERT_TRUE(save && where);
    const std::string work = where;
    g_stopAt = std::atoi(std::getenv("TESSALY_CRASH_AT"));
    g_tear = std::getenv("TESSALY_CRASH_TEAR") != nullptr;
    g_markPath = work + "/../stopped-at";
    platform::SetCurrentDir(work);
    form->WorkDir = work;
    const std::string what = save;
    if (what == "song") {
        form->DownloadName = "song.mp3";
        form->DownloadState = 1;
        form->SongConfirmed = true;
        form->Timer6->SetEnabled(true);
    }
    platform::SetFileStepHook(KillAtStep);
    if (what == "list") {
        store::WriteList(work + "/SearchView.MP3", kListLines, ListLine);
    } else if (what == "log") {
        store::AppendLine(work + "/SearchView.dwn", kLogged);
    } else if (what == "registry") {
        platform::FileRegistry(work + "/config", work + "/autostart", "/usr/bin/tessaly")
            .WriteString("Run", "_KDR_", kNewValue);
    } else if (what == "song") {
        form->Timer6Timer();
    } else if (what == "many") {
        // A second copy of the program appending at the same time.
        const std::string self = std::to_string(::getpid());
        for (int i = 0; i < 300; ++i) store::AppendLine(work + "/SearchView.dwn", "/copy " + self + "/" + std::to_string(i));
    }
    platform::SetFileStepHook(nullptr);
}

// --- the parent ---

struct Outcome {
    bool killed = false;
    std::string step;  // where it stopped
};

pid_t StartChild(const std::string& save, const std::string& work, int stopAt, bool tear, const std::string& log);

Outcome RunChild(const std::string& save, const std::string& work, int stopAt, bool tear) {
    const std::string mark = work + "/../stopped-at";
    ::unlink(mark.c_str());
    const std::string log = work + "/../child.log";
    const pid_t pid = StartChild(save, work, stopAt, tear, log);
    Outcome out;
    if (pid < 0) return out;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    out.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (!out.killed) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Slurp(log);
    }
    out.step = Slurp(mark);
    return out;
}

pid_t StartChild(const std::string& save, const std::string& work, int stopAt, bool tear, const std::string& log) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back("TESSALY_CRASH_SAVE=" + save);
    env.push_back("TESSALY_CRASH_DIR=" + work);
    env.push_back("TESSALY_CRASH_AT=" + std::to_string(stopAt));
    if (tear) env.push_back("TESSALY_CRASH_TEAR=1");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=DISABLED_CrashChild.Save";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {self.data(), filter.data(), disabled.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start the child";
        return -1;
    }
    return pid;
}

V Lines(const std::string& path, bool wholeOnly = false) {
    V out;
    store::ReadList(path, nullptr, [&](const std::string& l) { out.push_back(l); }, wholeOnly);
    return out;
}

V TempFiles(const std::string& dir) {
    V out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) out.push_back(n);
    }
    return out;
}

class CrashSafety : public PlatformFixture {
protected:
    // Runs the save killed at step 1, 2, … until it completes; `prepare` makes the state
    // before the save in a fresh folder, `check` judges what a kill left (`step` names the
    // step, empty when the save completed). Returns the number of steps the save took.
    int EveryStep(const std::string& save, const std::function<void(const std::string&)>& prepare,
                  const std::function<void(const std::string&, const std::string&)>& check) {
        int run = 0;
        for (int at = 1; at < 40; ++at) {
            for (bool tear : {false, true}) {
                const std::string work = Path(save + "-" + std::to_string(++run));
                std::filesystem::create_directory(work);
                prepare(work);
                const Outcome o = RunChild(save, work, at, tear);
                SCOPED_TRACE(save + ": stopped at step " + std::to_string(at) + " (" + o.step + ")" +
                             (tear ? ", write torn" : ""));
                check(work, o.killed ? o.step : std::string());
                if (::testing::Test::HasFatalFailure()) return at;
                if (!o.killed) return at - 1;
                if (o.step != "write") break;  // only a write can be torn
            }
        }
        ADD_FAILURE() << "the save never completed";
        return 0;
    }
};

TEST_F(CrashSafety, StoredListIsAbsentOrWholeAfterAKillAtAnyStep) {
    const std::string whole = WholeList();
    const int steps = EveryStep(
        "list", [](const std::string& work) { Put(work + "/SearchView.MP3", "/older/list.mp3\r\n"); },
        [&](const std::string& work, const std::string& step) {
            const std::string path = store::StoredListPath(work, "*.mp3");
            EXPECT_EQ(path, work + "/SearchView.MP3");  // a temporary file is never taken for it
            const std::string kept = Slurp(path);
            if (step.empty()) {
                EXPECT_EQ(kept, whole);
            } else {
                EXPECT_TRUE(kept == "/older/list.mp3\r\n" || kept == whole) << kept.size() << " bytes";
            }
            // The next save writes the whole list and leaves no temporary file behind.
            store::WriteList(path, kListLines, ListLine);
            EXPECT_EQ(Lines(path).size(), std::size_t(kListLines));
            EXPECT_EQ(TempFiles(work), V{});
        });
    EXPECT_GE(steps, 6);  // create, three writes, sync, rename (and the folder's sync)
}

TEST_F(CrashSafety, DownloadLogKeepsWholeLinesAfterAKillAtAnyStep) {
    const std::string before = "/work/one.mp3\r\n/work/two.mp3\r\n";
    const int steps = EveryStep(
        "log", [&](const std::string& work) { Put(work + "/SearchView.dwn", before); },
        [&](const std::string& work, const std::string& step) {
            const std::string log = work + "/SearchView.dwn";
            const V read = Lines(log, true);
            const V old = {"/work/one.mp3", "/work/two.mp3"};
            V grown = old;
            grown.push_back(kLogged);
            if (step.empty()) {
                EXPECT_EQ(read, grown);
            } else {
                EXPECT_TRUE(read == old || read == grown) << Slurp(log);
            }
            // The next append follows whole lines only.
            const bool has = read == grown;
            store::AppendLine(log, "/work/next.mp3");
            EXPECT_EQ(Slurp(log), before + (has ? kLogged + "\r\n" : "") + "/work/next.mp3\r\n");
        });
    EXPECT_GE(steps, 3);  // open, write, sync
}

TEST_F(CrashSafety, RegistryValueIsOldOrNewAfterAKillAtAnyStep) {
    const int steps = EveryStep(
        "registry",
        [](const std::string& work) {
            platform::FileRegistry reg(work + "/config", work + "/autostart", "/usr/bin/tessaly");
            reg.WriteString("Other", "kept", "yes");
            reg.WriteString("Run", "_KDR_", kOldValue);
        },
        [](const std::string& work, const std::string& step) {
            platform::FileRegistry reg(work + "/config", work + "/autostart", "/usr/bin/tessaly");
            const std::string value = reg.ReadString("Run", "_KDR_", "xx");
            if (step.empty()) {
                EXPECT_EQ(value, kNewValue);
            } else {
                EXPECT_TRUE(value == kOldValue || value == kNewValue) << value;
            }
            EXPECT_EQ(reg.ReadString("Other", "kept", "lost"), "yes");
            reg.WriteString("Run", "_KDR_", kNewValue);
            EXPECT_EQ(TempFiles(work + "/config"), V{});
        });
    EXPECT_GE(steps, 4);
}

TEST_F(CrashSafety, SongIsLoggedOnlyOnceItIsWholeUnderItsName) {
    const std::string song = SongData();
    const int steps = EveryStep(
        "song",
        [&](const std::string& work) {
            Put(work + "/temp", song);
            Put(work + "/SearchView.dwn", "/work/earlier.mp3\r\n");
        },
        [&](const std::string& work, const std::string& step) {
            const bool named = platform::FileExists(work + "/song.mp3");
            const V log = Lines(work + "/SearchView.dwn", true);
            if (named) {
                EXPECT_EQ(Slurp(work + "/song.mp3"), song);
                EXPECT_FALSE(platform::FileExists(work + "/temp"));
            } else {
                EXPECT_EQ(Slurp(work + "/temp"), song);  // still there for the next run to overwrite
            }
            V logged = {"/work/earlier.mp3"};
            if (log.size() == 2) {
                EXPECT_TRUE(named) << "the log names a song that is not there";
                logged.push_back(work + "/song.mp3");
            }
            EXPECT_EQ(log, logged);
            if (step.empty()) {
                EXPECT_EQ(log.size(), 2u);
            }
        });
    EXPECT_GE(steps, 5);  // song sync, rename, folder sync, log open, write, sync
}

// Two copies of the program appending at once: every line of both arrives whole.
TEST_F(CrashSafety, TwoCopiesAppendingAtOnceKeepEveryLine) {
    const std::string work = Path("two");
    std::filesystem::create_directory(work);
    Put(work + "/SearchView.dwn", "/work/first.mp3\r\n");
    const pid_t a = StartChild("many", work, 0, false, Path("a.log"));
    const pid_t b = StartChild("many", work, 0, false, Path("b.log"));
    for (pid_t p : {a, b}) {
        int status = 0;
        while (::waitpid(p, &status, 0) < 0 && errno == EINTR) {
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const V lines = Lines(work + "/SearchView.dwn", true);
    ASSERT_EQ(lines.size(), 601u);
    std::map<std::string, int> next;  // each copy's lines arrive in its order
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto slash = lines[i].rfind('/');
        ASSERT_NE(slash, std::string::npos) << lines[i];
        EXPECT_EQ(lines[i].substr(slash + 1), std::to_string(next[lines[i].substr(0, slash)]++)) << lines[i];
    }
    EXPECT_EQ(next.size(), 2u);
    EXPECT_EQ(Slurp(work + "/SearchView.dwn").size(), std::size_t(17) + 600 * 2 + [&] {
        std::size_t n = 0;
        for (std::size_t i = 1; i < lines.size(); ++i) n += lines[i].size();
        return n;
    }());
}

// --- a full disk and a read-only working folder ---

// A small memory file system on a folder of the test. Root writes into a read-only folder
// too, so the refusal has to come from the mount.
class MountedFolder {
public:
    MountedFolder(const std::string& dir, std::size_t bytes) : dir_(dir) {
        std::filesystem::create_directories(dir);
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~MountedFolder() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    void Fill() {
        std::ofstream filler(dir_ + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }
    // Read-only from here on; without a mount (not root) the folder's rights refuse instead.
    bool MakeReadOnly() {
        if (mounted_)
            return ::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0;
        if (::geteuid() == 0) return false;
        return ::chmod(dir_.c_str(), 0555) == 0;
    }

private:
    std::string dir_;
    bool mounted_ = false;
};

enum class Refusal { FullDisk, ReadOnly };

const std::string kEarlierLog = "/work/" + std::string(4096 - 8, 'e') + "\r\n";

class SaveRefused : public MainWindowFixture, public ::testing::WithParamInterface<Refusal> {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        work = Path("work");
        disk = std::make_unique<MountedFolder>(work, 512 * 1024);
        if (!disk->Mounted() && ::geteuid() == 0) GTEST_FAIL() << "root cannot mount a folder here";
        form->WorkDir = work;
        platform::SetCurrentDir(work);
        // What earlier runs left: a log, an autostart value, a song on its way. The log fills
        // its last page, so that one more line needs room on the disk.
        Put(work + "/SearchView.dwn", kEarlierLog);
        reg = std::make_unique<platform::FileRegistry>(work + "/config", work + "/autostart", "/usr/bin/tessaly");
        reg->WriteString("Run", "_KDR_", kOldValue);
        Put(work + "/temp", "a whole song");
        for (int i = 0; i < 400; ++i) form->WMDropFiles({ListLine(i)});
    }
    void TearDown() override {
        platform::SetCurrentDir(dir);
        disk.reset();
        MainWindowFixture::TearDown();
    }
    void Refuse() {
        if (GetParam() == Refusal::FullDisk) disk->Fill();
        else ASSERT_TRUE(disk->MakeReadOnly());
    }
    int Code() const { return GetParam() == Refusal::FullDisk ? 101 : 5; }

    std::string work;
    std::unique_ptr<MountedFolder> disk;
    std::unique_ptr<platform::FileRegistry> reg;
};

TEST_P(SaveRefused, EverySaveReportsTheErrorAndKeepsThePreviousState) {
    Refuse();
    const std::string text = Code() == 101 ? "ディスクがいっぱいです" : "ファイルへのアクセスが拒否されました";
    // The stored list: the error, no list and no temporary file.
    try {
        form->WriteStoredList("*.mp3");
        ADD_FAILURE() << "the list was written";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), Code());
        EXPECT_EQ(e.what(), text);
    }
    EXPECT_FALSE(platform::PathExists(work + "/SearchView.MP3"));
    EXPECT_EQ(TempFiles(work), V{});
    // The log: the error, and the log as it was.
    try {
        form->AppendDownloadLog("new.mp3");
        ADD_FAILURE() << "the log grew";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Code(), Code());
    }
    EXPECT_EQ(Slurp(work + "/SearchView.dwn"), kEarlierLog);
    // The registry value: refused, and the old one still there.
    EXPECT_THROW(reg->WriteString("Run", "_KDR_", kNewValue), Exception);
    EXPECT_EQ(reg->ReadString("Run", "_KDR_", "xx"), kOldValue);
    EXPECT_EQ(TempFiles(work + "/config"), V{});
    // The song: on a full disk its move still works and only the log line fails; on a
    // read-only disk it stays in "temp". Either way the log names no song that is missing.
    form->DownloadName = "song.mp3";
    form->DownloadState = 1;
    form->SongConfirmed = true;
    form->Timer6->SetEnabled(true);
    EXPECT_THROW(form->Timer6Timer(), EInOutError);
    EXPECT_EQ(Slurp(work + "/SearchView.dwn"), kEarlierLog);
    const bool moved = platform::FileExists(work + "/song.mp3");
    EXPECT_EQ(Slurp(work + (moved ? "/song.mp3" : "/temp")), "a whole song");
    EXPECT_EQ(moved, GetParam() == Refusal::FullDisk);
}

INSTANTIATE_TEST_SUITE_P(Refusals, SaveRefused, ::testing::Values(Refusal::FullDisk, Refusal::ReadOnly),
                         [](const auto& info) { return info.param == Refusal::FullDisk ? "FullDisk" : "ReadOnly"; });

// A temporary file that a killed run left is never read as the list and goes at the next save;
// one of a process that still runs (a second copy of the program saving) is left alone.
TEST_F(CrashSafety, LeftoverTemporaryFilesAreIgnoredAndCleared) {
    const std::string list = Path("SearchView.MP3");
    Put(Path(".SearchView.MP3.999999999.tmp"), "/cut/li");  // no such process
    const std::string living = ".SearchView.MP3." + std::to_string(::getppid()) + ".tmp";
    Put(Path(living), "/other/copy\r\n");
    EXPECT_FALSE(platform::FileExists(store::StoredListPath(dir, "*.mp3")));
    store::WriteList(list, 2, [](int i) { return "/new/" + std::to_string(i); });
    EXPECT_EQ(Lines(list), (V{"/new/0", "/new/1"}));
    EXPECT_EQ(TempFiles(dir), V{living});
}

}  // namespace
