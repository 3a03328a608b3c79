// Saves stopped at every step: a child process runs the real save and is killed at its Nth
// file step (before it, or halfway through a write), then the parent reads what is on the disk
// as the next start would. Every save also meets a full disk and a read-only working folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "Fixtures.h"
#include "MountedFolder.h"
#include "platform/Exceptions.h"
#include "platform/Registry.h"
#include "search/ResultStore.h"

extern char** environ;

namespace {

using V = std::vector<std::string>;
std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void Put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The list a search of many folders stores: several writes' worth of lines.
constexpr int kListLines = 3000;
std::string ListLine(int i) { return "/media/disk" + std::to_string(i % 7) + "/folder " + std::to_string(i) + "/song.mp3"; }
std::string WholeList() {
    std::string s;
    for (int i = 0; i < kListLines; ++i) s += ListLine(i) + "\r\n";
    return s;
}
const std::string kOld = "\"/old/place/kdr.exe\"", kNew = "\"/new/place/kdr.exe\"";
const std::string kLogged = "/work/a song whose path is long enough to be torn.mp3";
const std::string kSong(200000, 's');

V Lines(const std::string& path, bool wholeOnly = false) {
    V out;
    store::ReadList(path, nullptr, [&](const std::string& l) { out.push_back(l); }, wholeOnly);
    return out;
}

V TempFiles(const std::string& dir) {
    V out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".tmp") out.push_back(e.path().filename().string());
    return out;
}

// The download queue as a confirmed transfer of "song.mp3" into "temp" leaves it: the next tick
// keeps the song.
void SongArrived(TForm1* form) {
    form->CatalogueFiles[0] = "song.mp3";
    form->Download.StartRun();
    form->Download.Tick(1, [](int) { return true; });
    ASSERT_TRUE(form->Download.BeginSong(form->CatalogueFiles));
    form->Download.TransferConfirmed();
    form->Download.TransferStopped();
}

platform::FileRegistry RegistryIn(const std::string& work) {
    return platform::FileRegistry(work + "/config", work + "/autostart", "/usr/bin/tessaly");
}

// --- the child: one save as the program makes it, killed at the step the environment names ---

int g_stopAt = 0, g_steps = 0;
bool g_tear = false;
std::string g_markPath;

void KillAtStep(platform::FileStep step, int fd, const char* data, std::size_t size) {
    if (++g_steps != g_stopAt) return;
    // Tells the parent where it stopped, with calls the hook does not see.
    const char* name = step == platform::FileStep::Write ? "write" : "other";
    int mark = ::open(g_markPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    (void)!::write(mark, name, std::strlen(name));
    ::close(mark);
    if (g_tear && step == platform::FileStep::Write && size > 1) (void)!::write(fd, data, size / 2);
    ::raise(SIGKILL);
}

class DISABLED_CrashChild : public MainWindowFixture {};

TEST_F(DISABLED_CrashChild, Save) {
    const std::string what = std::getenv("TESSALY_CRASH_SAVE"), work = std::getenv("TESSALY_CRASH_DIR");
    g_stopAt = std::atoi(std::getenv("TESSALY_CRASH_AT"));
    g_tear = std::getenv("TESSALY_CRASH_TEAR") != nullptr;
    g_markPath = work + "/../stopped-at";
    platform::SetCurrentDir(work);
    form->WorkDir = work;
    SongArrived(form);
    form->Timer6->SetEnabled(true);
    platform::SetFileStepHook(KillAtStep);
    if (what == "list") store::WriteList(work + "/SearchView.MP3", kListLines, ListLine);
    if (what == "log") store::AppendLine(work + "/SearchView.dwn", kLogged);
    if (what == "registry") RegistryIn(work).WriteString("Run", "_KDR_", kNew);
    if (what == "song") form->Timer6Timer();
    for (int i = 0; what == "many" && i < 300; ++i)  // a second copy of the program appending
        store::AppendLine(work + "/SearchView.dwn", "/copy " + std::to_string(::getpid()) + "/" + std::to_string(i));
    platform::SetFileStepHook(nullptr);
}

// --- the parent ---

pid_t StartChild(const std::string& save, const std::string& work, int stopAt, bool tear) {
    std::vector<std::string> env = {"TESSALY_CRASH_SAVE=" + save, "TESSALY_CRASH_DIR=" + work,
                                    "TESSALY_CRASH_AT=" + std::to_string(stopAt)};
    if (tear) env.push_back("TESSALY_CRASH_TEAR=1");
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string(), log = work + ".log";
    std::string filter = "--gtest_filter=DISABLED_CrashChild.Save", disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {self.data(), filter.data(), disabled.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data()) != 0) ADD_FAILURE() << "no child";
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// True when the child was killed; false when it completed the save.
bool Killed(pid_t pid, const std::string& work) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    EXPECT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << Slurp(work + ".log");
    return killed;
}

// One save: the state before it, what the next start sees (`Seen`), and the states it may
// leave: before, in between, and (last) done.
struct Save {
    const char* name;
    std::function<void(const std::string&)> prepare;
    std::function<std::string(const std::string&)> seen;
    V allowed;
    int leastSteps;
    std::function<void(const std::string&)> redo;  // the same save again, in this process
};

std::vector<Save> Saves() {
    const std::string log = "/work/one.mp3\r\n";
    return {
        {"list", [](const std::string& w) { Put(w + "/SearchView.MP3", "/older.mp3\r\n"); },
         // A temporary file is never taken for the list.
         [](const std::string& w) { return Slurp(store::StoredListPath(w, "*.mp3")); },
         {"/older.mp3\r\n", WholeList()}, 6,  // create, 2 writes, sync, rename, folder sync
         [](const std::string& w) { store::WriteList(w + "/SearchView.MP3", kListLines, ListLine); }},
        {"log", [=](const std::string& w) { Put(w + "/SearchView.dwn", log); },
         [](const std::string& w) { return ::testing::PrintToString(Lines(w + "/SearchView.dwn", true)); },
         {::testing::PrintToString(V{"/work/one.mp3"}), ::testing::PrintToString(V{"/work/one.mp3", kLogged})}, 3,
         // A line that landed stays; a torn one is cut away, so the log reads one more line.
         [](const std::string& w) {
             const bool had = Lines(w + "/SearchView.dwn", true).size() == 2;
             if (had) Put(w + "/SearchView.dwn", "/work/one.mp3\r\n");
             store::AppendLine(w + "/SearchView.dwn", kLogged);
         }},
        {"registry", [](const std::string& w) { RegistryIn(w).WriteString("Other", "kept", "yes"), RegistryIn(w).WriteString("Run", "_KDR_", kOld); },
         [](const std::string& w) {
             return RegistryIn(w).ReadString("Run", "_KDR_", "xx") + RegistryIn(w).ReadString("Other", "kept", "lost");
         },
         {kOld + "yes", kNew + "yes"}, 5, [](const std::string& w) { RegistryIn(w).WriteString("Run", "_KDR_", kNew); }},
        // The song is whole under its name before the log names it; "temp" stays until then.
        {"song", [=](const std::string& w) { Put(w + "/temp", kSong), Put(w + "/SearchView.dwn", log); },
         [](const std::string& w) {
             return (Slurp(w + "/temp") == kSong ? "temp " : "") + std::string(Slurp(w + "/song.mp3") == kSong ? "song " : "") +
                    std::to_string(Lines(w + "/SearchView.dwn", true).size());
         },
         {"temp 1", "song 1", "song 2"}, 6, nullptr},
    };
}

void PrintTo(const Save& s, std::ostream* os) { *os << s.name; }

class CrashSafety : public PlatformFixture, public ::testing::WithParamInterface<Save> {};

// Killed at step 1, 2, … (each write also torn halfway) until the save completes.
TEST_P(CrashSafety, KilledAtAnyStepTheNextStartSeesTheOldOrTheNewState) {
    const Save& save = GetParam();
    int at = 1, run = 0;
    for (bool done = false; !done && at < 40; ++at) {
        for (bool tear : {false, true}) {
            const std::string work = Path(std::to_string(++run));
            std::filesystem::create_directory(work);
            save.prepare(work);
            ::unlink(Path("stopped-at").c_str());
            const bool killed = Killed(StartChild(save.name, work, at, tear), work);
            SCOPED_TRACE("stopped at step " + std::to_string(at) + (tear ? ", the write torn" : ""));
            const std::string seen = save.seen(work);
            if (!killed) {
                EXPECT_EQ(seen, save.allowed.back());
            }
            EXPECT_NE(std::find(save.allowed.begin(), save.allowed.end(), seen), save.allowed.end()) << seen;
            done = !killed;
            if (done || Slurp(Path("stopped-at")) != "write") break;
        }
        if (save.redo) {  // the next save completes, with whole lines, and leaves no temporary file
            const std::string work = Path(std::to_string(run));
            save.redo(work);
            EXPECT_EQ(save.seen(work), save.allowed.back());
            if (platform::FileExists(work + "/SearchView.dwn")) {
                for (const auto& line : Lines(work + "/SearchView.dwn")) EXPECT_TRUE(line == "/work/one.mp3" || line == kLogged);
            }
            EXPECT_EQ(TempFiles(work), V{});
            if (std::filesystem::exists(work + "/config")) {
                EXPECT_EQ(TempFiles(work + "/config"), V{});
            }
        }
    }
    EXPECT_GE(at - 2, save.leastSteps);
}

INSTANTIATE_TEST_SUITE_P(Saves, CrashSafety, ::testing::ValuesIn(Saves()), [](const auto& i) { return std::string(i.param.name); });

// --- a full disk and a read-only working folder ---

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
        reg->WriteString("Run", "_KDR_", kOld);
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
    EXPECT_THROW(reg->WriteString("Run", "_KDR_", kNew), Exception);
    EXPECT_EQ(reg->ReadString("Run", "_KDR_", "xx"), kOld);
    EXPECT_EQ(TempFiles(work + "/config"), V{});
    // The song: on a full disk its move still works and only the log line fails; on a
    // read-only disk it stays in "temp". Either way the log names no song that is missing.
    SongArrived(form);
    form->Timer6->SetEnabled(true);
    EXPECT_THROW(form->Timer6Timer(), EInOutError);
    EXPECT_EQ(Slurp(work + "/SearchView.dwn"), kEarlierLog);
    const bool moved = platform::FileExists(work + "/song.mp3");
    EXPECT_EQ(Slurp(work + (moved ? "/song.mp3" : "/temp")), "a whole song");
    EXPECT_EQ(moved, GetParam() == Refusal::FullDisk);
}

INSTANTIATE_TEST_SUITE_P(Refusals, SaveRefused, ::testing::Values(Refusal::FullDisk, Refusal::ReadOnly),
                         [](const auto& info) { return info.param == Refusal::FullDisk ? "FullDisk" : "ReadOnly"; });

using SecondCopy = PlatformFixture;

// A temporary file that a killed run left is never read as the list and goes at the next save;
// one of a process that still runs (a second copy of the program saving) is left alone.
TEST_F(SecondCopy, LeftoverTemporaryFilesAreIgnoredAndCleared) {
    Put(Path(".SearchView.MP3.999999999.tmp"), "/cut/li");  // no such process
    const std::string living = ".SearchView.MP3." + std::to_string(::getppid()) + ".tmp";
    Put(Path(living), "/other/copy\r\n");
    EXPECT_FALSE(platform::FileExists(store::StoredListPath(dir, "*.mp3")));
    store::WriteList(Path("SearchView.MP3"), 2, [](int i) { return "/new/" + std::to_string(i); });
    EXPECT_EQ(Lines(Path("SearchView.MP3")), (V{"/new/0", "/new/1"}));
    EXPECT_EQ(TempFiles(dir), V{living});
}

// Two copies appending to the log at once: every line of both arrives whole, in its order.
TEST_F(SecondCopy, TwoCopiesAppendingAtOnceKeepEveryLine) {
    const std::string work = Path("two");
    std::filesystem::create_directory(work);
    Put(work + "/SearchView.dwn", "/work/first.mp3\r\n");
    const pid_t a = StartChild("many", work, 0, false), b = StartChild("many", work + "/.", 0, false);
    EXPECT_FALSE(Killed(a, work));
    EXPECT_FALSE(Killed(b, work + "/."));
    const V lines = Lines(work + "/SearchView.dwn", true);
    ASSERT_EQ(lines.size(), 601u);
    std::map<std::string, int> next;
    std::size_t bytes = 17;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto slash = lines[i].rfind('/');
        EXPECT_EQ(lines[i].substr(slash + 1), std::to_string(next[lines[i].substr(0, slash)]++)) << lines[i];
        bytes += lines[i].size() + 2;
    }
    EXPECT_EQ(next.size(), 2u);
    EXPECT_EQ(Slurp(work + "/SearchView.dwn").size(), bytes);
}

}  // namespace
