// The picture helper's lock-in: a process locked in can no longer write, make or remove a
// file, read outside the folders it keeps, reach the network, start a program, trace or
// signal another process; each refused with EPERM or EACCES, never by killing it. The same
// steps without the lock-in succeed (as root too), and what decoding needs still works.
// Then every picture kind decoded in the locked helper comes out as it does here.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <seccomp.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/MetafileMaker.h"
#include "PictureMaker.h"
#include "pictures/LockIn.h"
#include "pictures/PictureHelper.h"
#include "pictures/Pictures.h"
#include "support/MediaMaker.h"

extern char** environ;

namespace {

using picturemaker::Write;

// What is tried, in this order; the last ones are what decoding needs and must keep working.
enum Row {
    kOpenForWriting,
    kCreateFile,
    kRemoveFile,
    kReadOutside,
    kTcpToLoopback,
    kStartProgram,
    kSignalParent,
    kChangeMode,
    kTraceParent,  // last of the refused: a traced parent stays attached until the child ends
    kReadKept,
    kStartThread,
    kSealedMemory,
    kSignalItself,
    kRows
};
constexpr const char* kRowNames[] = {"open a file for writing", "create a file",      "remove a file",
                                     "read a file outside",     "TCP to loopback",    "start /bin/true",
                                     "signal the parent",       "change a file's mode", "trace the parent",   "read a kept file",
                                     "start a thread",          "seal a memory file", "signal itself"};
static_assert(sizeof kRowNames / sizeof *kRowNames == kRows);

int ErrnoOf(bool ok) { return ok ? 0 : (errno ? errno : -1); }

// Runs in the child: each row's errno, 0 for success.
std::array<int, kRows> TryEverything(const std::string& dir, int port) {
    std::array<int, kRows> r{};
    errno = 0;
    int fd = ::open((dir + "/existing").c_str(), O_WRONLY | O_CLOEXEC);
    r[kOpenForWriting] = ErrnoOf(fd >= 0);
    if (fd >= 0) ::close(fd);
    errno = 0;
    fd = ::open((dir + "/made").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    r[kCreateFile] = ErrnoOf(fd >= 0);
    if (fd >= 0) ::close(fd);
    errno = 0;
    r[kRemoveFile] = ErrnoOf(::unlink((dir + "/victim").c_str()) == 0);
    errno = 0;
    fd = ::open((dir + "/outside/secret").c_str(), O_RDONLY | O_CLOEXEC);
    r[kReadOutside] = ErrnoOf(fd >= 0);
    if (fd >= 0) ::close(fd);

    errno = 0;
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        r[kTcpToLoopback] = ErrnoOf(false);
    } else {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        r[kTcpToLoopback] = ErrnoOf(::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);
        ::close(s);
    }

    pid_t child = -1;
    char arg0[] = "/bin/true";
    char* argv[] = {arg0, nullptr};
    const int spawned = ::posix_spawn(&child, "/bin/true", nullptr, nullptr, argv, environ);
    if (spawned != 0) {
        r[kStartProgram] = spawned;
    } else {
        int status = 0;
        ::waitpid(child, &status, 0);
        r[kStartProgram] = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
    }

    // Ignored by default, so a signal that gets through does the parent no harm.
    errno = 0;
    r[kSignalParent] = ErrnoOf(::kill(::getppid(), SIGURG) == 0);

    errno = 0;
    r[kChangeMode] = ErrnoOf(::chmod((dir + "/existing").c_str(), 0600) == 0);

    errno = 0;
    fd = ::open((dir + "/kept/file").c_str(), O_RDONLY | O_CLOEXEC);
    char byte = 0;
    r[kReadKept] = ErrnoOf(fd >= 0 && ::read(fd, &byte, 1) == 1 && byte == 'k');
    if (fd >= 0) ::close(fd);

    int threadRan = 0;
    try {
        std::thread([&threadRan] { threadRan = 1; }).join();
        r[kStartThread] = threadRan ? 0 : -1;
    } catch (const std::system_error& e) {
        r[kStartThread] = e.code().value();
    }

    errno = 0;
    const int memory = ::memfd_create("lock-in-test", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    bool sealed = memory >= 0 && ::ftruncate(memory, 4096) == 0;
    if (sealed) {
        void* at = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0);
        sealed = at != MAP_FAILED;
        if (sealed) {
            std::memset(at, 7, 4096);
            ::munmap(at, 4096);
        }
        sealed = sealed && ::fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0;
    }
    r[kSealedMemory] = ErrnoOf(sealed);
    if (memory >= 0) ::close(memory);

    errno = 0;
    r[kSignalItself] = ErrnoOf(::kill(::getpid(), SIGURG) == 0);

    errno = 0;
    r[kTraceParent] = ErrnoOf(::ptrace(PTRACE_SEIZE, ::getppid(), nullptr, nullptr) == 0);
    return r;
}

class LockInTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    std::string P(const std::string& name) const { return tmp_.path().toStdString() + "/" + name; }

    // A folder of its own for one run: files to write, remove and read.
    std::string Folder(const std::string& name) {
        const std::string dir = P(name);
        EXPECT_EQ(::mkdir(dir.c_str(), 0755), 0);
        EXPECT_EQ(::mkdir((dir + "/outside").c_str(), 0755), 0);
        EXPECT_EQ(::mkdir((dir + "/kept").c_str(), 0755), 0);
        Write(dir + "/existing", "e");
        EXPECT_EQ(::chmod((dir + "/existing").c_str(), 0644), 0);
        Write(dir + "/victim", "v");
        Write(dir + "/outside/secret", "s");
        Write(dir + "/kept/file", "k");
        return dir;
    }

    struct Outcome {
        std::array<int, kRows> rows{};
        platform::LockInReport report;
        int status = -1;
    };

    enum class Lock { None, Both, FilterOnly, LandlockOnly };

    // Forks a child that locks itself in (or not), tries every row and reports.
    Outcome Run(const std::string& dir, Lock lock) {
        Outcome out;
        // A loopback listener for the network row.
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        EXPECT_EQ(::listen(listener, 4), 0);
        EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length), 0);
        const int port = ntohs(at.sin_port);
        int results[2], go[2];
        EXPECT_EQ(::pipe2(results, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(go, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(results[0]);
            ::close(go[1]);
            char ready;
            if (::read(go[0], &ready, 1) != 1) ::_exit(3);
            platform::LockInReport report;
            if (lock != Lock::None)
                report = platform::LockIn(platform::LockInRules{{dir + "/kept"}, lock != Lock::FilterOnly, lock != Lock::LandlockOnly});
            const std::array<int, kRows> rows = TryEverything(dir, port);
            int flat[kRows + 3];
            std::copy(rows.begin(), rows.end(), flat);
            flat[kRows] = report.landlockAbi;
            flat[kRows + 1] = report.seccomp ? 1 : 0;
            flat[kRows + 2] = report.noNewPrivileges ? 1 : 0;
            ::_exit(::write(results[1], flat, sizeof flat) == static_cast<ssize_t>(sizeof flat) ? 0 : 5);
        }
        ::close(results[1]);
        ::close(go[0]);
        // Where Yama limits tracing to one's descendants, this test lets its child try the
        // reverse; the lock-in has to refuse it on its own.
        ::prctl(PR_SET_PTRACER, child, 0, 0, 0);
        EXPECT_EQ(::write(go[1], "g", 1), 1);
        ::close(go[1]);
        ::waitpid(child, &out.status, 0);
        ::prctl(PR_SET_PTRACER, 0, 0, 0, 0);
        int flat[kRows + 3] = {};
        EXPECT_EQ(::read(results[0], flat, sizeof flat), static_cast<ssize_t>(sizeof flat));
        ::close(results[0]);
        ::close(listener);
        std::copy(flat, flat + kRows, out.rows.begin());
        out.report.landlockAbi = flat[kRows];
        out.report.seccomp = flat[kRows + 1] != 0;
        out.report.noNewPrivileges = flat[kRows + 2] != 0;
        return out;
    }

    QTemporaryDir tmp_;
};

TEST_F(LockInTest, LockedInEveryEscapeIsRefusedWithAnErrorAndDecodingsNeedsStayOpen) {
    const std::string dir = Folder("locked");
    const Outcome locked = Run(dir, Lock::Both);
    // Refused, not killed: the child ran to its end and reported.
    ASSERT_TRUE(WIFEXITED(locked.status) && WEXITSTATUS(locked.status) == 0) << locked.status;
    ASSERT_TRUE(locked.report.noNewPrivileges);
    ASSERT_TRUE(locked.report.seccomp) << "this kernel offers no seccomp filter";
    ASSERT_GT(locked.report.landlockAbi, 0) << "this kernel offers no Landlock";
    for (int row = 0; row < kRows; ++row) {
        SCOPED_TRACE(kRowNames[row]);
        if (row < kReadKept) {
            EXPECT_TRUE(locked.rows[row] == EPERM || locked.rows[row] == EACCES) << locked.rows[row];
        } else {
            EXPECT_EQ(locked.rows[row], 0);
        }
    }
    // Nothing changed on the disk.
    EXPECT_EQ(picturemaker::Read(dir + "/existing"), "e");
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/existing").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_TRUE(std::ifstream(dir + "/victim").good());
    EXPECT_FALSE(std::ifstream(dir + "/made").good());
}

// Each part holds on its own, so a kernel with only one of them still keeps the helper in:
// the filter refuses with EPERM all but reading (it cannot see paths); Landlock refuses the
// files, the network, programs, tracing and (from its sixth version) signals, but not a
// change of mode, which is the filter's alone.
TEST_F(LockInTest, TheFilterAndLandlockEachRefuseOnTheirOwn) {
    const Outcome filter = Run(Folder("filter"), Lock::FilterOnly);
    ASSERT_TRUE(WIFEXITED(filter.status) && WEXITSTATUS(filter.status) == 0) << filter.status;
    ASSERT_TRUE(filter.report.seccomp);
    EXPECT_EQ(filter.report.landlockAbi, 0);
    for (int row = 0; row < kRows; ++row) {
        SCOPED_TRACE(kRowNames[row]);
#if defined(__SANITIZE_ADDRESS__)
        // The leak checker's tracing stays open to the filter in checked builds.
        if (row == kTraceParent) continue;
#endif
        EXPECT_EQ(filter.rows[row], row < kReadKept && row != kReadOutside ? EPERM : 0) << std::strerror(filter.rows[row]);
    }

    const Outcome landlock = Run(Folder("landlock"), Lock::LandlockOnly);
    ASSERT_TRUE(WIFEXITED(landlock.status) && WEXITSTATUS(landlock.status) == 0) << landlock.status;
    EXPECT_FALSE(landlock.report.seccomp);
    ASSERT_GT(landlock.report.landlockAbi, 0);
    for (int row = 0; row < kRows; ++row) {
        SCOPED_TRACE(kRowNames[row]);
        bool refused = row < kReadKept;
        if (row == kTcpToLoopback && landlock.report.landlockAbi < 4) refused = false;
        if (row == kSignalParent && landlock.report.landlockAbi < 6) refused = false;
        if (row == kChangeMode) refused = false;  // not Landlock's: the filter's
        if (refused) {
            EXPECT_TRUE(landlock.rows[row] == EPERM || landlock.rows[row] == EACCES) << landlock.rows[row];
        } else {
            EXPECT_EQ(landlock.rows[row], 0) << std::strerror(landlock.rows[row]);
        }
    }
}

TEST_F(LockInTest, WithoutTheLockInTheSameStepsSucceed) {
    const std::string dir = Folder("open");
    const Outcome open = Run(dir, Lock::None);
    ASSERT_TRUE(WIFEXITED(open.status) && WEXITSTATUS(open.status) == 0) << open.status;
    for (int row = 0; row < kRows; ++row) {
        SCOPED_TRACE(kRowNames[row]);
        EXPECT_EQ(open.rows[row], 0) << std::strerror(open.rows[row] > 0 ? open.rows[row] : 0);
    }
    EXPECT_TRUE(std::ifstream(dir + "/made").good());
    EXPECT_FALSE(std::ifstream(dir + "/victim").good());
}

// A kernel without Landlock or seccomp filters: the lock-in says what is missing, keeps what
// there is, and the picture still decodes.
TEST_F(LockInTest, WithoutLandlockOrSeccompItSaysSoAndStillDecodes) {
    QImage green(40, 30, QImage::Format_RGB32);
    green.fill(Qt::green);
    ASSERT_TRUE(green.save(QString::fromStdString(P("green.jpg")), "JPG", 95));
    int results[2];
    ASSERT_EQ(::pipe2(results, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // Such a kernel answers as if the calls were not there.
        scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
        seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(landlock_create_ruleset), 0);
        seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(seccomp), 0);
        seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1, SCMP_CMP(0, SCMP_CMP_EQ, PR_SET_SECCOMP, 0));
        if (seccomp_load(ctx) != 0) ::_exit(3);
        const platform::LockInReport report = platform::LockIn(platform::LockInRules{});
        bool decoded = false;
        try {
            decoded = qGreen(platform::DecodePicturePixels(P("green.jpg")).pixel(20, 15)) > 200;
        } catch (const EInvalidGraphic&) {
        }
        const int flat[] = {report.landlockAbi, report.seccomp, report.noNewPrivileges, decoded,
                            report.missing.find("Landlock") != std::string::npos, report.missing.find("seccomp") != std::string::npos};
        ::_exit(::write(results[1], flat, sizeof flat) == static_cast<ssize_t>(sizeof flat) ? 0 : 4);
    }
    ::close(results[1]);
    int status = -1;
    ::waitpid(child, &status, 0);
    int flat[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(::read(results[0], flat, sizeof flat), static_cast<ssize_t>(sizeof flat));
    ::close(results[0]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(flat[0], 0);  // no Landlock
    EXPECT_EQ(flat[1], 0);  // no filter of its own
    EXPECT_EQ(flat[2], 1);  // no new privileges all the same
    EXPECT_EQ(flat[3], 1);  // and the picture decoded
    EXPECT_EQ(flat[4], 1);  // the missing parts named
    EXPECT_EQ(flat[5], 1);
}

// ---- the locked helper ----

long StatusField(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Dark pixels: text that was drawn and not left out for a missing font.
int Ink(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 100 && qAlpha(image.pixel(x, y)) > 128) ++n;
    return n;
}

int DifferentPixels(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32), y = b.convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) n += x.pixel(col, row) != y.pixel(col, row);
    return n;
}

class LockedHelperTest : public LockInTest {
protected:
    void TearDown() override {
        platform::PictureHelperTuning() = platform::PictureHelperSettings{};
        platform::StopPictureHelpers();
    }
};

TEST_F(LockedHelperTest, EveryKindDecodedLockedInComesOutAsItDoesHere) {
    using namespace metafilemaker;
    QImage photo(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) photo.setPixel(x, y, qRgb(x * 255 / 320, y * 255 / 240, (x + y) % 256));
    ASSERT_TRUE(photo.save(QString::fromStdString(P("photo.jpg")), "JPG", 90));
    ASSERT_TRUE(mediamaker::Run(QStringLiteral("/usr/bin/convert"), {QString::fromStdString(P("photo.jpg")), QStringLiteral("-interlace"),
                                                                     QStringLiteral("Plane"), QString::fromStdString(P("progressive.jpg"))}));
    ASSERT_TRUE(mediamaker::Run(QStringLiteral("/usr/bin/convert"), {QString::fromStdString(P("photo.jpg")), QStringLiteral("-colorspace"),
                                                                     QStringLiteral("CMYK"), QString::fromStdString(P("cmyk.jpg"))}));
    ASSERT_TRUE(photo.save(QString::fromStdString(P("photo.bmp")), "BMP"));
    ASSERT_TRUE(photo.scaled(48, 48).save(QString::fromStdString(P("photo.ico")), "ICO"));
    // Japanese text: in the Shift-JIS bytes of an 8-bit font named ＭＳ 明朝, and in UTF-16;
    // beside it Latin text in a font the helper has not drawn with before it locked itself
    // in, which it then reads from the font folders.
    Wmf wmf(300, 60);
    wmf.Font(-40, 128, "\x82\x6c\x82\x72 \x96\xbe\x92\xa9").Select(0).TextColour(0).Transparent();
    wmf.Words(0x012E, {0}).TextOut(10, 10, "\x93\xfa\x96\x7b\x8c\xea");  // 日本語
    Write(P("text.wmf"), wmf.Build());
    Emf emf(300, 120);
    emf.Font(1, -40, 128, u"IPAGothic").Select(1).TextColour(0).Transparent().Text(10, 10, Utf16(u"画像確認"), true);
    emf.Font(2, -40, 0, u"Nimbus Roman").Select(2).Text(10, 60, Utf16(u"Roman"), true);
    Write(P("text.emf"), emf.Build());

    for (const char* name : {"photo.jpg", "progressive.jpg", "cmyk.jpg", "photo.bmp", "photo.ico", "text.wmf", "text.emf"}) {
        SCOPED_TRACE(name);
        pid_t helper = -1;
        platform::PictureHelperTuning().onRequestSent = [&helper](pid_t pid) { helper = pid; };
        const platform::Picture locked = platform::LoadPictureContained(P(name));
        // It was the locked helper that decoded it.
        ASSERT_GT(helper, 0);
        EXPECT_EQ(StatusField(helper, "Seccomp:"), 2);
        EXPECT_EQ(StatusField(helper, "NoNewPrivs:"), 1);
        const QImage here = platform::DecodePicturePixels(P(name));
        ASSERT_FALSE(here.isNull());
        ASSERT_FALSE(locked.IsNull());
        ASSERT_EQ(locked.Image().size(), here.size());
        EXPECT_EQ(DifferentPixels(locked.Image(), here), 0);
        if (std::string(name).find("text") == 0) {
            EXPECT_GT(Ink(locked.Image()), 1000) << "no text drawn";
        }
    }
}

// What the helper's descriptors lead to.
std::vector<std::string> OpenFiles(pid_t pid) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        files.push_back(std::filesystem::read_symlink(e.path(), ec).string());
    return files;
}

// A descriptor the program let slip through without close-on-exec (here a file open for
// writing) does not reach the helper, where the lock-in could not take it away again.
TEST_F(LockedHelperTest, NoDescriptorOfTheProgramButTheSocketReachesTheHelper) {
    const int slipped = ::open(P("log.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(slipped, 0);
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString(P("red.bmp")), "BMP"));
    platform::StopPictureHelpers();
    pid_t helper = -1;
    platform::PictureHelperTuning().onRequestSent = [&helper](pid_t pid) { helper = pid; };
    EXPECT_FALSE(platform::LoadPictureContained(P("red.bmp")).IsNull());
    ASSERT_GT(helper, 0);
    const std::vector<std::string> theirs = OpenFiles(helper), ours = OpenFiles(::getpid());
    ::close(slipped);
    // The twin: the same look finds it here.
    EXPECT_NE(std::find(ours.begin(), ours.end(), P("log.txt")), ours.end());
    EXPECT_EQ(std::find(theirs.begin(), theirs.end(), P("log.txt")), theirs.end());
    // Nor the picture, once it is decoded.
    EXPECT_EQ(std::find(theirs.begin(), theirs.end(), P("red.bmp")), theirs.end());
}

// The helper decodes what the program opened for it: a file it could not open itself (it is
// locked out of the test's folder) decodes; a file the program cannot open never reaches it.
TEST_F(LockedHelperTest, TheHelperReadsOnlyWhatTheProgramOpened) {
    QImage red(40, 30, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString(P("red.jpg")), "JPG", 95));
    EXPECT_TRUE(picturemaker::Near(platform::LoadPictureContained(P("red.jpg")).Image().pixelColor(20, 15), Qt::red));
    // Swapped for another file after the program opened it: the opened one is decoded.
    const int fd = platform::OpenPictureFile(P("red.jpg"));
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::rename(P("red.jpg").c_str(), P("moved.jpg").c_str()), 0);
    Write(P("red.jpg"), "not a picture");
    EXPECT_TRUE(picturemaker::Near(platform::DecodePicturePixels(fd, P("red.jpg")).pixelColor(20, 15), Qt::red));
    ::close(fd);

    // The failure twins, each the same box as in this process, with no helper asked.
    ASSERT_EQ(::mkdir(P("folder.jpg").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(P("pipe.bmp").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", P("zero.emf").c_str()), 0);
    int asked = 0;
    platform::PictureHelperTuning().onRequestSent = [&asked](pid_t) { ++asked; };
    for (const char* name : {"missing.jpg", "folder.jpg", "pipe.bmp", "zero.emf", "red.gif"}) {
        SCOPED_TRACE(name);
        std::string here, there;
        try {
            platform::LoadPicture(P(name));
        } catch (const EInvalidGraphic& e) {
            here = e.what();
        }
        try {
            platform::LoadPictureContained(P(name));
        } catch (const EInvalidGraphic& e) {
            there = e.what();
        }
        EXPECT_FALSE(here.empty());
        EXPECT_EQ(there, here);
    }
    EXPECT_EQ(asked, 0);
}

}  // namespace
