#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <cerrno>
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

constexpr const char kFrontRequest[] = "front\n";

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
        // The holder's process id, for the message of a later start. A full disk or a
        // read-only file leaves it out; the lock holds all the same.
        const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
        if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
            // nothing to do: the text is only informative
        }
        return State::Held;
    }
    error = EAGAIN;
    return State::Unavailable;
}

long FolderLock::HolderPid(const std::string& folder) {
    const int fd = ::open(LockPath(folder).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return 0;
    char buf[32] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return 0;
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

bool RequestFront(const std::string& channel, int timeoutMs) {
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    QEventLoop loop;
    bool delivered = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // The holder may have its lock but not yet its channel: try again shortly until the
    // deadline.
    QTimer retry;
    retry.setSingleShot(true);
    retry.setInterval(100);
    const QString name = QString::fromStdString(channel);
    QObject::connect(&retry, &QTimer::timeout, &socket, [&] { socket.connectToServer(name); });
    QObject::connect(&socket, &QLocalSocket::connected, &socket,
                     [&] { socket.write(kFrontRequest, sizeof kFrontRequest - 1); });
    QObject::connect(&socket, &QLocalSocket::bytesWritten, &socket, [&] {
        if (socket.bytesToWrite() == 0) {
            delivered = true;
            loop.quit();
        }
    });
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &socket, [&](QLocalSocket::LocalSocketError) {
        if (!delivered && deadline.isActive()) retry.start();
    });
    deadline.start(timeoutMs);
    socket.connectToServer(name);
    if (!delivered) loop.exec();
    socket.abort();
    return delivered;
}

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() = default;

void SingleInstance::Listen(const std::string& channel) {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!server_->listen(QString::fromStdString(channel))) {
        // Someone else holds the name: later starts still end, only without the raise.
        std::fprintf(stderr, "tessaly: no front-request channel (%s)\n", server_->errorString().toLocal8Bit().constData());
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QPointer<QLocalSocket> guard(peer);
            auto take = [this, guard] {
                if (!guard) return;
                // One short line per connection; anything longer is not ours.
                if (!guard->canReadLine() && guard->bytesAvailable() < 64) return;
                const QByteArray got = guard->readLine(64);
                guard->disconnectFromServer();
                if (!got.startsWith(kFrontRequest) || !bringToFront_) return;
                try {
                    bringToFront_();
                } catch (...) {
                    // Raising a window has nothing worth reporting; the run goes on.
                }
            };
            connect(peer, &QLocalSocket::readyRead, this, take);
            if (peer->bytesAvailable() > 0) take();
        }
    });
}

bool SingleInstance::Claim(const std::string& folder, std::function<void()> bringToFront) {
    bringToFront_ = std::move(bringToFront);
    switch (lock_.Acquire(folder)) {
        case FolderLock::State::Held:
            Listen(InstanceChannelName(folder));
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
    const bool front = RequestFront(InstanceChannelName(folder), 3000);
    std::fprintf(stderr, "tessaly: already running in %s (process %ld)%s\n", folder.c_str(), pid,
                 front ? "; its window comes to the front" : "");
    return false;
}

}  // namespace platform
