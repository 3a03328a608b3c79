#include "app/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <QCryptographicHash>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>


namespace platform {

namespace {

std::string LockPath(const std::string& folder) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    return path + kInstanceLockName;
}


}  // namespace

FolderLock::~FolderLock() { Release(); }

void FolderLock::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

FolderLock::State FolderLock::Acquire(const std::string& folder) {
    Release();
    error = 0;
    const std::string path = LockPath(folder);
    // Not following a link and not waiting on a pipe: whatever stands under the name, the
    // lock is taken on a plain file of this folder or not at all.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    // A second round only when the name was replaced between opening and locking.
    for (int round = 0; round < 3; ++round) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, 0644);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
            fd = ::open(path.c_str(), O_RDONLY | flags);  // a lock needs no write access
        if (fd < 0) {
            error = errno;
            return State::Unavailable;
        }
        struct stat held{};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            error = EINVAL;
            ::close(fd);
            return State::Unavailable;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int e = errno;
            ::close(fd);
            if (e == EWOULDBLOCK) return State::HeldElsewhere;
            error = e;
            return State::Unavailable;
        }
        struct stat named{};
        if (::stat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino || named.st_dev != held.st_dev) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        // The holder's process id, for the message of a later start.
        Record(std::to_string(static_cast<long>(::getpid())) + "\n");
        return State::Held;
    }
    error = EAGAIN;
    return State::Unavailable;
}

void FolderLock::Record(const std::string& text) {
    if (fd_ < 0) return;
    if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, text.data(), text.size(), 0) < 0) {
        // nothing to do: the text is only informative
    }
}

namespace {

// The first `max` bytes of the lock file.
std::string ReadLockFile(const std::string& folder, size_t max) {
    const int fd = ::open(LockPath(folder).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return {};
    std::string buf(max, '\0');
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    ::close(fd);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

}  // namespace

std::string FolderLock::HolderChannel(const std::string& folder) {
    const std::string text = ReadLockFile(folder, 512);
    const size_t first = text.find('\n');
    if (first == std::string::npos) return {};
    const size_t second = text.find('\n', first + 1);
    // Only a whole line: a write cut short gives nothing.
    if (second == std::string::npos) return {};
    return text.substr(first + 1, second - first - 1);
}

long FolderLock::HolderPid(const std::string& folder) {
    const std::string text = ReadLockFile(folder, 31);
    if (text.empty()) return 0;
    const char* buf = text.c_str();
    char* end = nullptr;
    const long pid = std::strtol(buf, &end, 10);
    // Only a whole line: a write cut short by a full disk gives no number.
    return (end != buf && *end == '\n' && pid > 0) ? pid : 0;
}

std::string InstanceChannelName(const std::string& folder) {
    char real[PATH_MAX];
    const std::string key = ::realpath(folder.c_str(), real) ? std::string(real) : folder;
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256).toHex().left(32);
    // Per user and per folder; in the abstract namespace, so a killed copy leaves no
    // socket file behind to clean up. A full path, so that no setting of the temporary
    // folder (TMPDIR) gives two copies two names.
    return "/tessaly/" + std::to_string(static_cast<unsigned long>(::getuid())) + "/" + hash.toStdString();
}

namespace {

// A request line: "front", a blank and the token (may be empty), a line feed. The answer:
// one word and a line feed.
constexpr size_t kMaxLine = 512;
constexpr size_t kMaxToken = 400;
// A peer that sends no whole line in this time is dropped.
constexpr int kPeerTimeoutMs = 2000;

bool AbstractAddress(const std::string& name, sockaddr_un& addr, socklen_t& len) {
    if (name.empty() || name.size() + 1 > sizeof addr.sun_path) return false;
    addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());  // abstract: a NUL first
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

const char* OutcomeWord(FrontOutcome o) {
    switch (o) {
        case FrontOutcome::Active: return "active";
        case FrontOutcome::Attention: return "attention";
        case FrontOutcome::Behind: return "behind";
        case FrontOutcome::NoAnswer:
        case FrontOutcome::NotReached: break;
    }
    return "none";
}

// Runs the event loop until `done` says so or the deadline passes; `done` is asked after
// every event this wait was woken for.
class Wait : public QObject {
public:
    explicit Wait(int timeoutMs) {
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, &loop_, &QEventLoop::quit);
        deadline_.start(std::max(0, timeoutMs));
    }
    bool Expired() const { return !deadline_.isActive(); }
    void Quit() { loop_.quit(); }
    void Run() {
        if (!Expired()) loop_.exec();
    }

private:
    QEventLoop loop_;
    QTimer deadline_;
};

}  // namespace

bool IsChannelToken(const std::string& token) {
    if (token.size() > kMaxToken) return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

const char* FrontOutcomeWords(FrontOutcome o) {
    switch (o) {
        case FrontOutcome::Active: return "its window came to the front";
        case FrontOutcome::Attention: return "the desktop kept its window behind; it is marked as wanting attention";
        case FrontOutcome::Behind: return "the desktop kept its window behind";
        case FrontOutcome::NoAnswer: return "it took the request but did not answer in time (busy?)";
        case FrontOutcome::NotReached: return "it could not be reached";
    }
    return "";
}

FrontOutcome RequestFront(const std::string& channel, const std::string& token, int timeoutMs) {
    sockaddr_un addr{};
    socklen_t len = 0;
    if (!AbstractAddress(channel, addr, len)) return FrontOutcome::NotReached;
    const std::string request = "front " + (IsChannelToken(token) ? token : std::string()) + "\n";
    Wait wait(timeoutMs);
    int fd = -1;
    // The holder may have its lock but not yet its channel: try again shortly until the
    // deadline. A local connect completes at once or not at all.
    for (;;) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return FrontOutcome::NotReached;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) break;
        ::close(fd);
        fd = -1;
        QTimer retry;
        retry.setSingleShot(true);
        QObject::connect(&retry, &QTimer::timeout, &wait, &Wait::Quit);
        retry.start(100);
        wait.Run();
        if (wait.Expired()) return FrontOutcome::NotReached;
    }
    // The request is far smaller than any socket buffer: it goes whole or not at all.
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return FrontOutcome::NotReached;
    }
    std::string got;
    bool closed = false;
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &wait, [&] {
        char buf[64];
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0 && got.size() < kMaxLine) got.append(buf, static_cast<size_t>(n));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) closed = true;
        if (closed || got.find('\n') != std::string::npos) wait.Quit();
    });
    while (!closed && got.find('\n') == std::string::npos && !wait.Expired()) wait.Run();
    readable.setEnabled(false);
    ::close(fd);
    const std::string word = got.substr(0, got.find('\n'));
    if (word == "active") return FrontOutcome::Active;
    if (word == "attention") return FrontOutcome::Attention;
    if (word == "behind") return FrontOutcome::Behind;
    return FrontOutcome::NoAnswer;
}

// One peer of the channel: reads its line, hands the request on and writes the answer.
class FrontPeer : public QObject {
public:
    FrontPeer(int fd, FrontListener* listener);
    ~FrontPeer() override {
        readable_.setEnabled(false);
        ::close(fd_);
    }

private:
    void OnReadable();
    void Answer(FrontOutcome outcome);
    void Drop();
    int fd_;
    FrontListener* listener_;
    QSocketNotifier readable_;
    QTimer timeout_;
    std::string line_;
    bool asked_ = false;
};

// The listening socket of the channel, watched by the event loop.
class FrontListener : public QObject {
public:
    FrontListener(int fd, FrontHandler* handler) : fd_(fd), handler_(handler), readable_(fd, QSocketNotifier::Read) {
        connect(&readable_, &QSocketNotifier::activated, this, [this] { Accept(); });
    }
    ~FrontListener() override {
        readable_.setEnabled(false);
        ::close(fd_);
    }
    FrontHandler* Handler() const { return handler_; }

private:
    void Accept() {
        // Bounded: a flood of connections cannot keep this handler from returning.
        for (int i = 0; i < 16; ++i) {
            const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (peer < 0) return;
            new FrontPeer(peer, this);  // a child: goes with the listener at the latest
        }
    }
    int fd_;
    FrontHandler* handler_;
    QSocketNotifier readable_;
};

FrontPeer::FrontPeer(int fd, FrontListener* listener)
    : QObject(listener), fd_(fd), listener_(listener), readable_(fd, QSocketNotifier::Read) {
    connect(&readable_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, [this] {
        if (!asked_) Drop();
    });
    timeout_.start(kPeerTimeoutMs);
}

void FrontPeer::Drop() {
    readable_.setEnabled(false);
    timeout_.stop();
    deleteLater();
}

void FrontPeer::OnReadable() {
    char buf[256];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) {
        // The peer went away; an answer still to come has nobody to go to.
        Drop();
        return;
    }
    if (asked_) return;  // anything after the request line is not ours
    line_.append(buf, static_cast<size_t>(n));
    const size_t end = line_.find('\n');
    if (end == std::string::npos) {
        if (line_.size() > kMaxLine) Drop();  // one short line per connection
        return;
    }
    const std::string line = line_.substr(0, end);
    std::string token;
    if (line == "front") {
    } else if (line.rfind("front ", 0) == 0) {
        token = line.substr(6);
    } else {
        Drop();
        return;
    }
    if (!IsChannelToken(token)) token.clear();
    asked_ = true;
    timeout_.stop();
    FrontHandler* handler = listener_->Handler();
    if (!handler || !*handler) {
        Answer(FrontOutcome::NoAnswer);
        return;
    }
    QPointer<FrontPeer> self(this);
    try {
        (*handler)(token, [self](FrontOutcome outcome) {
            if (self) self->Answer(outcome);
        });
    } catch (...) {
        // Raising a window has nothing worth reporting; the run goes on.
        if (self) self->Answer(FrontOutcome::NoAnswer);
    }
}

void FrontPeer::Answer(FrontOutcome outcome) {
    const std::string word = std::string(OutcomeWord(outcome)) + "\n";
    // A few bytes into an empty buffer; a peer that is gone costs nothing (no SIGPIPE).
    if (::send(fd_, word.data(), word.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
    }
    Drop();
}

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() = default;

void SingleInstance::Listen(const std::string& folder) {
    const std::string base = InstanceChannelName(folder);
    // The name of a copy that is gone can still be held by a stranger (a process that got
    // the socket from it): then the channel gets a name of this copy's own, which the lock
    // file tells later starts.
    for (const std::string& name : {base, base + "/" + std::to_string(static_cast<long>(::getpid()))}) {
        sockaddr_un addr{};
        socklen_t len = 0;
        if (!AbstractAddress(name, addr, len)) continue;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) break;
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0 && ::listen(fd, 8) == 0) {
            listener_ = std::make_unique<FrontListener>(fd, &bringToFront_);
            channel_ = name;
            return;
        }
        ::close(fd);
    }
    // Later starts still end, only without the raise.
    std::fprintf(stderr, "tessaly: no front-request channel (%s)\n", std::strerror(errno));
}

bool SingleInstance::Claim(const std::string& folder, FrontHandler bringToFront,
                           const std::function<std::string()>& tokenSource, FrontOutcome* outcome) {
    std::string token;
    bool haveToken = false;
    bringToFront_ = std::move(bringToFront);
    // A second round when the holder went away while it was asked.
    for (int round = 0; round < 2; ++round) {
        switch (lock_.Acquire(folder)) {
            case FolderLock::State::Held:
                Listen(folder);
                lock_.Record(std::to_string(static_cast<long>(::getpid())) + "\n" + channel_ + "\n");
                return true;
            case FolderLock::State::Unavailable:
                // Without a lock file nothing can be written in the folder either.
                std::fprintf(stderr, "tessaly: no lock in %s (%s); runs without one\n", folder.c_str(),
                             std::strerror(lock_.error));
                return true;
            case FolderLock::State::HeldElsewhere:
                break;
        }
        const long pid = FolderLock::HolderPid(folder);
        const std::string base = InstanceChannelName(folder);
        std::string channel = FolderLock::HolderChannel(folder);
        // Only a channel of this folder: the lock file is no pointer to anywhere else.
        if (channel.rfind(base, 0) != 0) channel = base;
        if (!haveToken && tokenSource) token = tokenSource();
        haveToken = true;
        const FrontOutcome got = RequestFront(channel, token, 3000);
        if (got == FrontOutcome::NotReached && round == 0 && lock_.Acquire(folder) != FolderLock::State::HeldElsewhere) {
            lock_.Release();
            continue;
        }
        if (outcome) *outcome = got;
        std::fprintf(stderr, "tessaly: already running in %s (process %ld); %s\n", folder.c_str(), pid,
                     FrontOutcomeWords(got));
        return false;
    }
    return false;
}

}  // namespace platform
