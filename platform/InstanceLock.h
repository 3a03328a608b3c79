#pragma once
// One program per working folder. The first copy in a folder holds a lock there for its
// whole run; a later start in the same folder asks that copy to bring its window to the
// front and ends before it writes anything. Copies in other folders run side by side.
#include <QObject>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace platform {

// The lock file of a working folder. Hidden, so that it does not show among the user's
// files; never deleted, since a lock lives in the open file and not in the name.
inline constexpr const char* kInstanceLockName = ".tessaly.lock";

// An exclusive lock on `folder`'s lock file: flock() on a file opened close-on-exec, so
// the kernel lets go of it when the holder ends however it ends (a killed copy leaves no
// lock behind), and programs the holder starts do not inherit it.
class FolderLock {
public:
    enum class State { Held, HeldElsewhere, Unavailable };
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Tries once, without waiting. Unavailable: the folder allows no lock file (read-only,
    // missing, or a file system without locks); `error` then holds the errno.
    State Acquire(const std::string& folder);
    void Release();
    // The process id that the holder wrote into the lock file, 0 when unknown.
    static long HolderPid(const std::string& folder);
    int error = 0;

private:
    int fd_ = -1;
};

// The name of the local channel over which a later start reaches the copy that holds
// `folder` (its real path: one folder named two ways is one folder).
std::string InstanceChannelName(const std::string& folder);

// The lock and the front-request channel of the running program.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance();
    ~SingleInstance() override;

    // Claims `folder` for this process. True: this is the only copy there (or no lock
    // can be kept there at all), and `bringToFront` runs whenever a later start asks.
    // False: another copy holds it; it has been asked to come to the front, and this
    // process is to end without touching the folder.
    bool Claim(const std::string& folder, std::function<void()> bringToFront);

private:
    void Listen(const std::string& channel);
    FolderLock lock_;
    QLocalServer* server_ = nullptr;
    std::function<void()> bringToFront_;
};

// Asks the copy that listens on `channel` to come to the front; waits in the event loop
// for at most `timeoutMs`. False when nobody took the request.
bool RequestFront(const std::string& channel, int timeoutMs);

}  // namespace platform
