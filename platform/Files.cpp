#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Exceptions.h"

namespace platform {

std::string GetCurrentDir() {
    std::vector<char> buf(4096);
    while (!::getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) RaiseIoError(errno);
        buf.resize(buf.size() * 2);
    }
    return buf.data();
}

void SetCurrentDir(const std::string& dir) {
    if (::chdir(dir.c_str()) != 0) {
        int code = IoCodeFromErrno(errno);
        throw EInOutError(code, "I/O エラー (" + std::to_string(code) + ")");
    }
}

namespace {

// The system would read such a path only up to the NUL, which names another file.
bool HoldsNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// A text file is a plain file: a pipe would wait for a writer and a device such as
// /dev/zero never end, either one holding the GUI. Others fail as access denied, the same
// as a folder does; a plain file is then read and written as usual.
// Returns the errno to raise, 0 for a plain file.
int RefuseAllButPlainFile(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return 0;
}

}  // namespace

bool FileExists(const std::string& path) {
    if (HoldsNul(path)) return false;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    if (HoldsNul(path)) return false;
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::int64_t FileSize(const std::string& path) {
    if (HoldsNul(path)) return -1;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

bool DeleteFile(const std::string& path, int* err) {
    if (HoldsNul(path)) {
        if (err) *err = EINVAL;
        return false;
    }
    struct stat st;
    // unlink() would not refuse a folder on every system; a folder is no file to delete.
    if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (err) *err = EISDIR;
        return false;
    }
    if (::unlink(path.c_str()) == 0) return true;
    if (err) *err = errno;
    return false;
}

bool DeletePlainFile(const std::string& path) {
    if (HoldsNul(path)) return false;
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0;
}

bool CreateFileIfMissing(const std::string& path) {
    if (HoldsNul(path)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::string SystemErrorText(int err) {
    char buf[256];
    // GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? text : "";
}

namespace {

FileStepHook stepHook = nullptr;


std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return std::string(1, kPathSeparator);
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    auto slash = path.find_last_of(kPathSeparator);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The hidden temporary name for `path` of process `pid`. The leading dot and the suffix keep it
// apart from every name a reader looks for; the name is cut so that the suffix always fits.
std::string TempName(const std::string& name, long pid) {
    return "." + name.substr(0, 200) + "." + std::to_string(pid) + ".tmp";
}

// Removes temporary files that earlier Replace writers of `path` left when they were killed:
// those of processes that no longer run, and this process's own.
void RemoveStaleTemps(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = "." + NameOf(path).substr(0, 200) + ".";
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.size() <= prefix.size() + 4 || n.compare(0, prefix.size(), prefix) != 0 ||
            n.compare(n.size() - 4, 4, ".tmp") != 0)
            continue;
        std::string digits = n.substr(prefix.size(), n.size() - prefix.size() - 4);
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        long pid = std::stol(digits);
        if (pid == static_cast<long>(::getpid()) || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
            stale.push_back(JoinPath(folder, n));
    }
    ::closedir(d);
    for (const auto& p : stale) ::unlink(p.c_str());
}

}  // namespace

void SetFileStepHook(FileStepHook hook) { stepHook = hook; }

void BeforeFileStep(FileStep step, int fd, const char* data, std::size_t size) {
    if (stepHook) stepHook(step, fd, data, size);
}

BrokenPipeGuard::BrokenPipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    blockedBefore_ = sigismember(&old_, SIGPIPE) == 1;
}

BrokenPipeGuard::~BrokenPipeGuard() {
    if (blockedBefore_) return;
    // A SIGPIPE raised meanwhile is taken here, so it is not delivered once unblocked.
    sigset_t pending;
    sigemptyset(&pending);
    if (::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        timespec now{};
        while (::sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

void SyncFile(int fd) {
    BeforeFileStep(FileStep::Sync, fd);
    while (::fsync(fd) != 0) {
        if (errno != EINTR) RaiseIoError(errno);
    }
}

void SyncFolderOf(const std::string& path) {
    int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    BeforeFileStep(FileStep::Sync, fd);
    int rc;
    while ((rc = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    const int err = rc == 0 ? 0 : errno;
    ::close(fd);
    // Some file systems cannot sync a folder (EINVAL); a failed write-back is an error.
    if (err == EIO) RaiseIoError(err);
}

void ReplaceFile(const std::string& from, const std::string& to) {
    int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) RaiseIoError(errno);
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        BeforeFileStep(FileStep::Sync, fd);
        int rc;
        while ((rc = ::fdatasync(fd)) != 0 && errno == EINTR) {
        }
        const int err = rc == 0 ? 0 : errno;
        ::close(fd);
        if (err) RaiseIoError(err);
    } else {
        ::close(fd);
    }
    BeforeFileStep(FileStep::Rename);
    if (::rename(from.c_str(), to.c_str()) != 0) RaiseIoError(errno);
    SyncFolderOf(to);
}

void RemoveStaleReplaceTemps(const std::string& path) { RemoveStaleTemps(path); }

std::string ReplaceTempPath(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string name = TempName(NameOf(path), static_cast<long>(::getpid()));
    return path.find_last_of(kPathSeparator) == std::string::npos ? name : JoinPath(folder, name);
}

void ReplaceFileContents(const std::string& path, std::string_view bytes) {
    TextFileWriter out(path, TextFileWriter::Mode::Replace);
    out.Write(bytes);
    out.Close();
}

TextFileWriter::TextFileWriter(const std::string& path, Mode mode) : path_(path) {
    if (mode == Mode::Replace) {
        if (HoldsNul(path)) RaiseIoError(EINVAL);
        // What stands under the name must be a plain file that may be replaced, as for a rewrite.
        struct stat st{};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) RaiseIoError(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
        RemoveStaleTemps(path);
        temp_ = ReplaceTempPath(path);
        BeforeFileStep(FileStep::Create);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int err = errno;
            temp_.clear();
            RaiseIoError(err);
        }
        buffer_.reserve(64 * 1024);
        return;
    }
    // Not blocking: a pipe in the file's place would otherwise wait for a reader forever.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (mode == Mode::Rewrite ? O_TRUNC : O_APPEND);
    BeforeFileStep(FileStep::Create);
    fd_ = ::open(path.c_str(), flags, 0666);
    if (fd_ < 0) RaiseIoError(errno);
    if (int err = RefuseAllButPlainFile(fd_)) {
        ::close(fd_);
        fd_ = -1;
        RaiseIoError(err);
    }
    buffer_.reserve(64 * 1024);
}

TextFileWriter::~TextFileWriter() {
    if (fd_ >= 0 && temp_.empty()) {
        try {
            Flush();
        } catch (...) {
            // An unwinding writer keeps what reached the disk; the first error was reported.
        }
    }
    Discard();
}

void TextFileWriter::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

void TextFileWriter::Write(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= 64 * 1024) Flush();
}

void WriteAll(int fd, const char* data, std::size_t size) {
    BrokenPipeGuard noSignal;
    for (std::size_t done = 0; done < size;) {
        BeforeFileStep(FileStep::Write, fd, data + done, size - done);
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseIoError(errno);
        }
        done += static_cast<std::size_t>(n);
    }
}

void TextFileWriter::Flush() {
    // The buffer is empty afterwards whether the write succeeds or raises.
    std::string pending;
    pending.swap(buffer_);
    WriteAll(fd_, pending.data(), pending.size());
}

void TextFileWriter::Close() {
    if (fd_ < 0) return;
    if (!temp_.empty()) {
        try {
            Flush();
            SyncFile(fd_);
            const int fd = fd_;
            fd_ = -1;
            if (::close(fd) != 0) RaiseIoError(errno);
            BeforeFileStep(FileStep::Rename);
            if (::rename(temp_.c_str(), path_.c_str()) != 0) RaiseIoError(errno);
            temp_.clear();
        } catch (...) {
            Discard();
            throw;
        }
        SyncFolderOf(path_);
        return;
    }
    int fd = fd_;
    try {
        Flush();
    } catch (...) {
        fd_ = -1;
        ::close(fd);
        throw;
    }
    fd_ = -1;
    if (::close(fd) != 0) RaiseIoError(errno);
}

void TextLineSplitter::Append(const char* from, const char* to) {
    if (long_) return;
    const std::size_t room = limit_ - line_.size();
    const std::size_t size = static_cast<std::size_t>(to - from);
    line_.append(from, std::min(size, room));
    long_ = size > room;
}

void TextLineSplitter::Hand() {
    open_ = false;
    const bool skip = long_ && longLine_ == LongLine::Skip;
    long_ = false;
    if (!skip) onLine_(line_);
}

bool TextLineSplitter::Feed(const char* data, std::size_t size) {
    const char* p = data;
    const char* end = data + size;
    while (p < end && !ended_) {
        if (afterCr_) {
            afterCr_ = false;
            if (*p == '\n') {
                ++p;
                continue;
            }
        }
        if (!open_) {
            // Between lines: a character of code 26 ends the data, anything else begins a line.
            if (*p == 26) {
                ended_ = true;
                break;
            }
            open_ = true;
            line_.clear();
        }
        // The line's end, looked for with the library's fast search: a line may be gigabytes.
        const auto n = static_cast<std::size_t>(end - p);
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', n));
        const char* eof = static_cast<const char*>(std::memchr(p, 26, cr ? static_cast<std::size_t>(cr - p) : n));
        const char* stop = eof ? eof : cr ? cr : end;
        Append(p, stop);
        p = stop;
        if (p == end) break;
        if (*p == 26) ended_ = true;
        else afterCr_ = true;
        ++p;
        Hand();
    }
    return !ended_;
}

void TextLineSplitter::FeedNuls(std::uint64_t count) {
    if (count == 0 || ended_) return;
    afterCr_ = false;
    if (!open_) {
        open_ = true;
        line_.clear();
    }
    if (long_) return;
    const std::size_t room = limit_ - line_.size();
    line_.append(static_cast<std::size_t>(std::min<std::uint64_t>(count, room)), '\0');
    long_ = count > room;
}

void TextLineSplitter::Finish(bool dropUnended) {
    if (ended_ || !open_) return;
    // The first line counts even when empty; a line cut off is never handed on as a path.
    if (dropUnended && (!line_.empty() || long_)) {
        open_ = false;
        long_ = false;
        return;
    }
    Hand();
}

void ReadFileChunks(const std::string& path, const std::function<bool(const char*, std::size_t)>& onChunk,
                    const std::function<void(std::uint64_t)>& onHole) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) RaiseIoError(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (int err = RefuseAllButPlainFile(fd)) RaiseIoError(err);
    std::vector<char> buf(64 * 1024);
    // Where the data of a sparse file is: holes are handed on by length. Without holes, or on
    // a file system that cannot tell, everything is data.
    off_t at = 0;
    off_t dataEnd = -1;  // the end of the data being read; -1 when the file cannot tell
    if (onHole) {
        off_t data = ::lseek(fd, 0, SEEK_DATA);
        if (data >= 0 || errno == ENXIO) dataEnd = 0;
    }
    for (;;) {
        if (dataEnd >= 0 && at >= dataEnd) {
            const off_t data = ::lseek(fd, at, SEEK_DATA);
            if (data < 0 && errno == ENXIO) {
                // Nothing but a hole up to the end.
                struct stat st;
                if (::fstat(fd, &st) != 0) RaiseIoError(errno);
                if (st.st_size > at) onHole(static_cast<std::uint64_t>(st.st_size - at));
                return;
            }
            const off_t hole = data < 0 ? -1 : ::lseek(fd, data, SEEK_HOLE);
            if (hole < 0) {
                dataEnd = -1;  // the file system stopped telling: the rest is read as data
            } else {
                if (data > at) onHole(static_cast<std::uint64_t>(data - at));
                at = data;
                dataEnd = hole;
                if (dataEnd <= at) return;  // the file shrank meanwhile
            }
        }
        std::size_t want = buf.size();
        if (dataEnd >= 0) want = static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(want), dataEnd - at));
        ssize_t n = ::pread(fd, buf.data(), want, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseIoError(errno);
        }
        if (n == 0 || !onChunk(buf.data(), static_cast<std::size_t>(n))) return;
        at += n;
    }
}

void ReadTextLines(const std::string& path, const std::function<void(const std::string&)>& onLine,
                   bool dropUnended) {
    TextLineSplitter lines(onLine);
    bool ended = false;
    ReadFileChunks(
        path,
        [&](const char* data, std::size_t size) {
            ended = !lines.Feed(data, size);
            return !ended;
        },
        [&](std::uint64_t nuls) { lines.FeedNuls(nuls); });
    if (!ended) lines.Finish(dropUnended);
}

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string FindNameIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return {};
    std::string found;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view entry(e->d_name);
        if (entry.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; same && i < entry.size(); ++i) same = AsciiLower(entry[i]) == AsciiLower(name[i]);
        if (same && (found.empty() || entry < found)) found = entry;
    }
    ::closedir(d);
    return found;
}

}  // namespace platform
