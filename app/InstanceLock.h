#pragma once
// One program per working folder. The first copy in a folder holds a lock there for its
// whole run; a later start in the same folder asks that copy to bring its window to the
// front and ends before it writes anything. Copies in other folders run side by side.
#include <QObject>
#include <functional>
#include <memory>
#include <string>

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
    // Replaces what the lock file says (the holder's process id and channel); a full disk
    // or a read-only file leaves it empty, and the lock holds all the same.
    void Record(const std::string& text);
    // The process id that the holder wrote into the lock file, 0 when unknown.
    static long HolderPid(const std::string& folder);
    // The channel the holder wrote on the lock file's second line; empty when none.
    static std::string HolderChannel(const std::string& folder);
    int error = 0;

private:
    int fd_ = -1;
};

// The name of the local channel over which a later start reaches the copy that holds
// `folder` (its real path: one folder named two ways is one folder).
std::string InstanceChannelName(const std::string& folder);

// What became of a request to bring the running copy's window to the front.
enum class FrontOutcome {
    NotReached,  // nobody took the request
    NoAnswer,    // taken, but the copy said nothing in time (busy, or stopped)
    Active,      // the window is the active one now
    Attention,   // the desktop kept it behind; it is marked as wanting attention
    Behind,      // the desktop kept it behind (a Wayland compositor marks it itself, or not)
};

// The words a later start says about the outcome, after "already running in … (process …)".
const char* FrontOutcomeWords(FrontOutcome outcome);

// Brings the window to the front with the launcher's activation token (may be empty) and
// calls `answer` once with the outcome, now or later.
using FrontHandler = std::function<void(const std::string& token, std::function<void(FrontOutcome)> answer)>;

// An activation token fit for the channel: printable ASCII without blanks, not too long.
bool IsChannelToken(const std::string& token);

class FrontListener;

// The lock and the front-request channel of the running program.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance();
    ~SingleInstance() override;

    // Claims `folder` for this process. True: this is the only copy there (or no lock
    // can be kept there at all), and `bringToFront` runs whenever a later start asks.
    // False: another copy holds it; it has been asked to come to the front with the
    // activation token that `token` gives (asked only then; may be empty), `outcome` (when
    // given) says what became of that, and this process is to end without touching the folder.
    bool Claim(const std::string& folder, FrontHandler bringToFront, const std::function<std::string()>& token = {},
               FrontOutcome* outcome = nullptr);
    // The channel this copy listens on; empty when it has none.
    const std::string& Channel() const { return channel_; }

private:
    void Listen(const std::string& folder);
    FolderLock lock_;
    std::unique_ptr<FrontListener> listener_;
    std::string channel_;
    FrontHandler bringToFront_;
};

// Asks the copy that listens on `channel` to come to the front, passing `token`, and waits
// in the event loop for its answer, at most `timeoutMs` in all.
FrontOutcome RequestFront(const std::string& channel, const std::string& token, int timeoutMs);

}  // namespace platform
