#include "platform/SharedLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Exceptions.h"
#include "platform/Files.h"

namespace platform {

namespace {

// The length of the file up to the end of its last line: just past its last CR or LF, 0 when
// it holds none. Anything after that is what a cut-off append left.
off_t WholeLinesLength(int fd, off_t size) {
    char buf[4096];
    for (off_t end = size; end > 0;) {
        const off_t start = end > off_t(sizeof buf) ? end - off_t(sizeof buf) : 0;
        const ssize_t n = ::pread(fd, buf, static_cast<std::size_t>(end - start), start);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) RaiseIoError(n < 0 ? errno : EIO);
        for (ssize_t i = n; i > 0; --i)
            if (buf[i - 1] == '\r' || buf[i - 1] == '\n') return start + i;
        end = start;
    }
    return 0;
}

void CutTo(int fd, off_t size) {
    BeforeFileStep(FileStep::Truncate);
    if (::ftruncate(fd, size) != 0) RaiseIoError(errno);
}

}  // namespace

void AppendToSharedLog(const std::string& path, std::string_view line) {
    // Not blocking: a pipe in the file's place would otherwise wait for a reader forever.
    BeforeFileStep(FileStep::Create);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) RaiseIoError(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st{};
    if (::fstat(fd, &st) != 0) RaiseIoError(errno);
    if (!S_ISREG(st.st_mode)) RaiseIoError(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
    // A second copy of the program appending at the same time must not see this line half
    // written and cut it away as torn: the look at the end and the write go under one lock.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (::fstat(fd, &st) != 0) RaiseIoError(errno);
    // Read access for the look at the end; a log that only allows appending is appended to.
    off_t size = st.st_size;
    int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (reader >= 0) {
        Closer readerCloser{reader};
        // An append cut off by a kill or a power cut left part of a line: cut it away, or it
        // would run into this one and name a file that does not exist.
        const off_t whole = size > 0 ? WholeLinesLength(reader, size) : 0;
        if (whole < size) {
            CutTo(fd, whole);
            size = whole;
        }
    }
    // One write per line: the line reaches the log whole, or a cut-off part that the reader
    // and the next append leave aside.
    try {
        WriteAll(fd, line.data(), line.size());
        SyncFile(fd);
    } catch (...) {
        // Half a line would run into the next one appended; the file keeps whole lines. If
        // this fails too, the next append cuts the torn tail away.
        if (::ftruncate(fd, size) != 0) {
        }
        throw;
    }
    if (::close(closer.fd) != 0) {
        closer.fd = -1;
        RaiseIoError(errno);
    }
    closer.fd = -1;
}

}  // namespace platform
