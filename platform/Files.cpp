#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string SystemErrorText(int err) {
    char buf[256];
    // GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? text : "";
}

TextFileWriter::TextFileWriter(const std::string& path, Mode mode) {
    // Not blocking: a pipe in the file's place would otherwise wait for a reader forever.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (mode == Mode::Rewrite ? O_TRUNC : O_APPEND);
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
    if (fd_ >= 0) {
        try {
            Flush();
        } catch (...) {
            // An unwinding writer keeps what reached the disk; the first error was reported.
        }
        ::close(fd_);
    }
}

void TextFileWriter::Write(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= 64 * 1024) Flush();
}

void WriteAll(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
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

void ReadTextLines(const std::string& path, const std::function<void(const std::string&)>& onLine) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) RaiseIoError(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (int err = RefuseAllButPlainFile(fd)) RaiseIoError(err);

    std::vector<char> buf(64 * 1024);
    size_t pos = 0, len = 0;
    bool eof = false;
    // Makes at least one byte available unless the data has ended.
    auto fill = [&]() -> bool {
        if (pos < len) return true;
        if (eof) return false;
        for (;;) {
            ssize_t n = ::read(fd, buf.data(), buf.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                RaiseIoError(errno);
            }
            pos = 0;
            len = static_cast<size_t>(n);
            if (n == 0) eof = true;
            return n > 0;
        }
    };
    auto atEnd = [&]() { return !fill() || buf[pos] == 26; };

    std::string line;
    do {
        line.clear();
        while (fill()) {
            const char* start = buf.data() + pos;
            const char* end = buf.data() + len;
            const char* stop = start;
            while (stop < end && *stop != '\r' && *stop != 26) ++stop;
            line.append(start, stop);
            pos += static_cast<size_t>(stop - start);
            if (stop < end) break;
        }
        if (fill() && buf[pos] == '\r') {
            ++pos;
            if (fill() && buf[pos] == '\n') ++pos;
        }
        onLine(line);
    } while (!atEnd());
}

}  // namespace platform
