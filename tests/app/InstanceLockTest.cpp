// One program per working folder: the lock itself, and real copies of the program started
// in one folder and in two, and after a killed one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "FileSizeLimit.h"
#include "app/InstanceLock.h"
#include "support/WaitUntil.h"

namespace {

using platform::FolderLock;
using State = FolderLock::State;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(FolderLock, OneHolderPerFolderAndReleasedWithItsHolder) {
    QTemporaryDir a, b;
    const std::string fa = a.path().toStdString(), fb = b.path().toStdString();
    FolderLock first, second, other;
    ASSERT_EQ(first.Acquire(fa), State::Held);
    EXPECT_EQ(Slurp(fa + "/" + platform::kInstanceLockName), std::to_string(::getpid()) + "\n");
    EXPECT_EQ(FolderLock::HolderPid(fa), static_cast<long>(::getpid()));
    // The same folder under another name is the same folder.
    EXPECT_EQ(second.Acquire(fa + "/./"), State::HeldElsewhere);
    EXPECT_EQ(other.Acquire(fb), State::Held);
    first.Release();
    EXPECT_EQ(second.Acquire(fa), State::Held);
    EXPECT_EQ(platform::InstanceChannelName(fa), platform::InstanceChannelName(fa + "/."));
    EXPECT_NE(platform::InstanceChannelName(fa), platform::InstanceChannelName(fb));
}

TEST(FolderLock, ProgramsStartedByTheHolderDoNotKeepTheLock) {
    QTemporaryDir a;
    const std::string fa = a.path().toStdString();
    auto holder = std::make_unique<FolderLock>();
    ASSERT_EQ(holder->Acquire(fa), State::Held);
    QProcess child;  // started while the lock is held, as a launched player would be
    child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted(10000));
    holder.reset();
    FolderLock next;
    EXPECT_EQ(next.Acquire(fa), State::Held) << "the child inherited the lock";
    child.kill();
    child.waitForFinished(10000);
}

TEST(FolderLock, WhatStandsUnderTheNameIsNotFollowedNorWaitedOn) {
    QTemporaryDir a, elsewhere;
    const std::string fa = a.path().toStdString();
    const std::string lock = fa + "/" + platform::kInstanceLockName;
    const std::string target = elsewhere.path().toStdString() + "/victim";
    {
        std::ofstream(target) << "keep";
    }
    ASSERT_EQ(::symlink(target.c_str(), lock.c_str()), 0);
    FolderLock l;
    EXPECT_EQ(l.Acquire(fa), State::Unavailable);
    EXPECT_EQ(Slurp(target), "keep");
    ::unlink(lock.c_str());
    ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0);  // opening a pipe to read would hang
    EXPECT_EQ(l.Acquire(fa), State::Unavailable);
    ::unlink(lock.c_str());
    ASSERT_EQ(::mkdir(lock.c_str(), 0755), 0);
    EXPECT_EQ(l.Acquire(fa), State::Unavailable);
    ::rmdir(lock.c_str());
    EXPECT_EQ(l.Acquire(fa + "/missing"), State::Unavailable);
    EXPECT_EQ(l.Acquire(fa), State::Held);
}

TEST(FolderLock, AFullDiskLeavesThePidOutButTheLockHolds) {
    QTemporaryDir a;
    const std::string fa = a.path().toStdString();
    FolderLock l;
    {
        FileSizeLimit full(1);
        ASSERT_EQ(l.Acquire(fa), State::Held);
    }
    EXPECT_EQ(FolderLock::HolderPid(fa), 0);
    FolderLock again;
    EXPECT_EQ(again.Acquire(fa), State::HeldElsewhere);
}

// Runs the event loop until `done` or 10 s have passed.
template <class F>
bool WaitFor(F done) {
    return testwait::WaitUntil(done, 10000);
}

TEST(SingleInstance, OnlyTheFrontRequestRaisesAndStrangersDoNotStopTheChannel) {
    QTemporaryDir a, b;
    const std::string fa = a.path().toStdString(), fb = b.path().toStdString();
    int raised = 0, raisedOther = 0;
    std::string tokenSeen = "unset";
    platform::SingleInstance first;
    ASSERT_TRUE(first.Claim(fa, [&](const std::string& token, auto answer) {
        ++raised;
        tokenSeen = token;
        answer(platform::FrontOutcome::Active);
    }));
    // A stranger on the channel: a long line, then a short one that is not the request.
    for (const std::string& junk : {std::string(5000, 'x'), std::string("back\n")}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string name = platform::InstanceChannelName(fa);
        ASSERT_LT(name.size() + 1, sizeof addr.sun_path);
        std::memcpy(addr.sun_path + 1, name.data(), name.size());  // abstract: a NUL first
        const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), len), 0) << std::strerror(errno);
        ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(junk.size()));
        // The program closes the connection: the stranger reads its end.
        EXPECT_TRUE(WaitFor([&] {
            char c;
            const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        })) << "the program keeps a stranger's connection";
        ::close(fd);
    }
    EXPECT_EQ(raised, 0);
    // A second claim of the folder is refused and raises the first; one of another folder
    // is granted and raises nothing.
    platform::SingleInstance second, other;
    auto countOther = [&](const std::string&, auto answer) {
        ++raisedOther;
        answer(platform::FrontOutcome::Active);
    };
    platform::FrontOutcome outcome = platform::FrontOutcome::NotReached;
    EXPECT_FALSE(second.Claim(fa + "/", countOther, [] { return std::string("launcher-token-1"); }, &outcome));
    EXPECT_EQ(raised, 1);  // the answer came back before the claim returned
    EXPECT_EQ(outcome, platform::FrontOutcome::Active);
    EXPECT_EQ(tokenSeen, "launcher-token-1");
    EXPECT_TRUE(other.Claim(fb, countOther));
    EXPECT_EQ(raisedOther, 0);
    EXPECT_EQ(platform::RequestFront(first.Channel(), "", 5000), platform::FrontOutcome::Active);
    EXPECT_EQ(raised, 2);
    EXPECT_EQ(tokenSeen, "");
    // A token that is no token (blanks, control characters, far too long) is not passed on.
    for (const std::string& bad : {std::string("two words"), std::string("tab\there"), std::string(600, 'x')}) {
        EXPECT_EQ(platform::RequestFront(first.Channel(), bad, 5000), platform::FrontOutcome::Active);
        EXPECT_EQ(tokenSeen, "");
    }
    // Nobody on a channel: the request gives up at its deadline.
    EXPECT_EQ(platform::RequestFront(platform::InstanceChannelName(fa + "/none"), "", 300),
              platform::FrontOutcome::NotReached);
}

// A listening socket under an abstract name that never accepts: a stale holder of the name.
int HoldName(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 8) != 0) return -1;
    return fd;
}

TEST(SingleInstance, AStaleChannelNameIsPassedOverAndTheLockFileTellsTheNewOne) {
    QTemporaryDir a;
    const std::string fa = a.path().toStdString();
    const std::string base = platform::InstanceChannelName(fa);
    // The copy that held the folder is gone; a process it started kept its channel's name.
    const int stale = HoldName(base);
    ASSERT_GE(stale, 0) << std::strerror(errno);
    int raised = 0;
    platform::SingleInstance first;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(first.Claim(fa, [&](const std::string&, auto answer) {
        ++raised;
        answer(platform::FrontOutcome::Attention);
    }));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(first.Channel(), base + "/" + std::to_string(::getpid()));
    EXPECT_EQ(FolderLock::HolderChannel(fa), first.Channel());
    EXPECT_EQ(FolderLock::HolderPid(fa), static_cast<long>(::getpid()));
    // A later start reaches the new copy, not the stale name, and hears what happened.
    platform::SingleInstance second;
    platform::FrontOutcome outcome = platform::FrontOutcome::NotReached;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(second.Claim(fa, nullptr, nullptr, &outcome));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, platform::FrontOutcome::Attention);
    EXPECT_EQ(raised, 1);
    EXPECT_NE(said.find("marked as wanting attention"), std::string::npos) << said;
    // Failure twin: a lock file that names a channel of another folder is not followed; the
    // folder's own name is asked, where the stale holder takes the request and says nothing.
    const std::string lock = fa + "/" + platform::kInstanceLockName;
    {
        std::ofstream(lock, std::ios::trunc) << ::getpid() << "\n" << platform::InstanceChannelName("/elsewhere") << "\n";
    }
    EXPECT_EQ(FolderLock::HolderChannel(fa), platform::InstanceChannelName("/elsewhere"));
    platform::SingleInstance third;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(third.Claim(fa, nullptr, nullptr, &outcome));
    const std::string silent = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, platform::FrontOutcome::NoAnswer);
    EXPECT_EQ(raised, 1);
    EXPECT_NE(silent.find("did not answer"), std::string::npos) << silent;
    ::close(stale);
}

TEST(SingleInstance, AHolderWithoutAChannelIsNotReachedAndOneThatEndsMeanwhileMakesWay) {
    QTemporaryDir a;
    const std::string fa = a.path().toStdString();
    auto holder = std::make_unique<FolderLock>();
    ASSERT_EQ(holder->Acquire(fa), State::Held);
    platform::SingleInstance second;
    platform::FrontOutcome outcome = platform::FrontOutcome::Active;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(second.Claim(fa, nullptr, nullptr, &outcome));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outcome, platform::FrontOutcome::NotReached);
    EXPECT_NE(said.find("could not be reached"), std::string::npos) << said;
    // The holder ends while it is being asked: this start takes the folder instead of ending.
    QTimer::singleShot(300, [&] { holder.reset(); });
    platform::SingleInstance third;
    EXPECT_TRUE(third.Claim(fa, nullptr));
    EXPECT_FALSE(third.Channel().empty());
}

// The program itself, in a folder of its own, with its configuration in the test's folder.
class Copy {
public:
    Copy(const QString& folder, const QString& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("TESSALY_REPORT_INSTANCE"), QStringLiteral("1"));
        env.remove(QStringLiteral("TESSALY_SCREENSHOTS"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder);
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly"), {});
    }
    ~Copy() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
    // Waits until the program's report holds `line` `times` times, at most 60 s per read
    // (a loaded machine).
    bool Says(const QString& line, int times = 1) {
        for (;;) {
            out += QString::fromUtf8(process.readAllStandardOutput());
            if (out.split(QLatin1Char('\n')).count(line) >= times) return true;
            if (process.state() == QProcess::NotRunning || !process.waitForReadyRead(60000)) {
                out += QString::fromUtf8(process.readAllStandardOutput());
                return out.split(QLatin1Char('\n')).count(line) >= times;
            }
        }
    }
    QProcess process;
    QString out;
};

// Every name in the folder with its size and change time: what a copy wrote there.
std::map<std::string, std::pair<long long, long long>> Snapshot(const std::string& folder) {
    std::map<std::string, std::pair<long long, long long>> out;
    for (const QFileInfo& f : QDir(QString::fromStdString(folder))
                                  .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        struct stat st{};
        ::lstat(f.absoluteFilePath().toLocal8Bit().constData(), &st);
        out[f.fileName().toStdString()] = {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
    }
    return out;
}

TEST(SingleInstanceRun, ASecondStartInTheFolderBringsTheFirstUpAndEndsAnotherFolderRunsBeside) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString home = tmp.path();
    const QString one = home + QStringLiteral("/one"), two = home + QStringLiteral("/two");
    QDir().mkpath(one);
    QDir().mkpath(two);

    Copy first(one, home);
    ASSERT_TRUE(first.Says(QStringLiteral("instance %1").arg(first.process.processId())))
        << first.out.toStdString() << first.process.readAllStandardError().toStdString();
    const auto before = Snapshot(one.toStdString());

    Copy second(one, home);
    ASSERT_TRUE(second.process.waitForFinished(60000));
    EXPECT_EQ(second.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process.exitCode(), 0);
    const QString err = QString::fromUtf8(second.process.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("already running"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QString::number(first.process.processId()))) << err.toStdString();
    EXPECT_FALSE(QString::fromUtf8(second.process.readAllStandardOutput()).contains(QStringLiteral("instance")));
    EXPECT_TRUE(first.Says(QStringLiteral("front"))) << first.out.toStdString();
    // It says what the first copy saw happen, not what it hoped for.
    if (first.Says(QStringLiteral("front active")))
        EXPECT_TRUE(err.contains(QStringLiteral("its window came to the front"))) << err.toStdString();
    else
        EXPECT_TRUE(first.Says(QStringLiteral("front behind")) && err.contains(QStringLiteral("kept its window behind")))
            << err.toStdString() << first.out.toStdString();
    // The second copy wrote nothing in the folder.
    EXPECT_EQ(Snapshot(one.toStdString()), before);

    // A first copy that handles no events (stopped here, busy in a full search in life):
    // a later start still ends at once, and the first comes up once it runs again.
    ::kill(static_cast<pid_t>(first.process.processId()), SIGSTOP);
    Copy whileBusy(one, home);
    const bool ended = whileBusy.process.waitForFinished(30000);
    ::kill(static_cast<pid_t>(first.process.processId()), SIGCONT);
    ASSERT_TRUE(ended);
    EXPECT_EQ(whileBusy.process.exitCode(), 0);
    const QString busyErr = QString::fromUtf8(whileBusy.process.readAllStandardError());
    EXPECT_TRUE(busyErr.contains(QStringLiteral("did not answer in time"))) << busyErr.toStdString();
    EXPECT_TRUE(first.Says(QStringLiteral("front"), 2)) << first.out.toStdString();
    EXPECT_EQ(Snapshot(one.toStdString()), before);

    // Failure twin: in another folder a copy runs beside the first.
    Copy beside(two, home);
    ASSERT_TRUE(beside.Says(QStringLiteral("instance %1").arg(beside.process.processId())))
        << beside.out.toStdString();
    EXPECT_EQ(first.process.state(), QProcess::Running);
    EXPECT_EQ(first.out.split(QLatin1Char('\n')).count(QStringLiteral("front")), 2);  // nothing from the other folder

    // A killed copy leaves its lock file behind, and it blocks nothing.
    ::kill(static_cast<pid_t>(first.process.processId()), SIGKILL);
    ASSERT_TRUE(first.process.waitForFinished(30000));
    ASSERT_TRUE(QFileInfo::exists(one + QStringLiteral("/.tessaly.lock")));
    Copy after(one, home);
    EXPECT_TRUE(after.Says(QStringLiteral("instance %1").arg(after.process.processId())))
        << after.out.toStdString() << after.process.readAllStandardError().toStdString();
    EXPECT_EQ(beside.process.state(), QProcess::Running);
}

}  // namespace
