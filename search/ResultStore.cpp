#include "search/ResultStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Exceptions.h"
#include "platform/Files.h"

namespace store {

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string ExtensionOf(const std::string& text) {
    auto dot = text.find_last_of('.');
    if (dot == std::string::npos) return {};
    if (text.find_first_of("\\/:", dot + 1) != std::string::npos) return {};
    return text.substr(dot);
}

std::string StoredListName(const std::string& boxText) {
    return "SearchView" + UpperAscii(ExtensionOf(boxText));
}

std::string ResolveInFolder(const std::string& dir, const std::string& name) {
    std::string exact = dir.empty() ? name : platform::JoinPath(dir, name);
    if (platform::PathExists(exact)) return exact;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return exact;
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            // Several spellings may exist side by side; take the first in a stable order.
            if (found.empty() || found > e->d_name) found = e->d_name;
        }
    }
    ::closedir(d);
    if (found.empty()) return exact;
    return dir.empty() ? found : platform::JoinPath(dir, found);
}

std::string StoredListPath(const std::string& workDir, const std::string& boxText) {
    return ResolveInFolder(workDir, StoredListName(boxText));
}

void WriteList(const std::string& path, int count, const std::function<std::string(int)>& line) {
    // Written beside the name and moved onto it when whole and on the disk: a list cut off by
    // a kill or a power cut would later pass for the whole result, silently missing files.
    try {
        platform::TextFileWriter out(path, platform::TextFileWriter::Mode::Replace);
        for (int i = 0; i < count; ++i) out.WriteLine(line(i));
        out.Close();
    } catch (...) {
        // No list at all rather than an older one: the next quick search searches the disks.
        struct stat st{};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
        throw;
    }
}

bool ContainsIgnoringAsciiCase(const std::string& line, const std::string& lowerKeyword) {
    // An empty keyword is contained in nothing, so it selects no line.
    if (lowerKeyword.empty()) return false;
    auto it = std::search(line.begin(), line.end(), lowerKeyword.begin(), lowerKeyword.end(),
                          [](char a, char b) {
                              if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
                              return a == b;
                          });
    return it != line.end();
}

void ReadList(const std::string& path, const std::string* keyword,
              const std::function<void(const std::string&)>& onLine, bool wholeLinesOnly) {
    if (!keyword) {
        platform::ReadTextLines(path, onLine, wholeLinesOnly);
        return;
    }
    const std::string lower = LowerAscii(*keyword);
    platform::ReadTextLines(
        path, [&](const std::string& line) {
            if (ContainsIgnoringAsciiCase(line, lower)) onLine(line);
        },
        wholeLinesOnly);
}

bool IsDownloadLog(const std::string& path) {
    auto slash = path.find_last_of(platform::kPathSeparator);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return ::strcasecmp(name.c_str(), kDownloadLogName) == 0;
}

namespace {

// The length of the file up to the end of its last line: just past its last CR or LF, 0 when
// it holds none. Anything after that is what a cut-off append left.
off_t WholeLinesLength(int fd, off_t size) {
    char buf[4096];
    for (off_t end = size; end > 0;) {
        const off_t start = end > off_t(sizeof buf) ? end - off_t(sizeof buf) : 0;
        const ssize_t n = ::pread(fd, buf, static_cast<std::size_t>(end - start), start);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) platform::RaiseIoError(n < 0 ? errno : EIO);
        for (ssize_t i = n; i > 0; --i)
            if (buf[i - 1] == '\r' || buf[i - 1] == '\n') return start + i;
        end = start;
    }
    return 0;
}

void CutTo(int fd, off_t size) {
    platform::BeforeFileStep(platform::FileStep::Truncate);
    if (::ftruncate(fd, size) != 0) platform::RaiseIoError(errno);
}

}  // namespace

void AppendLine(const std::string& path, const std::string& line) {
    // Not blocking: a pipe in the file's place would otherwise wait for a reader forever.
    platform::BeforeFileStep(platform::FileStep::Create);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) platform::RaiseIoError(errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st{};
    if (::fstat(fd, &st) != 0) platform::RaiseIoError(errno);
    if (!S_ISREG(st.st_mode)) platform::RaiseIoError(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
    // A second copy of the program appending at the same time must not see this line half
    // written and cut it away as torn: the look at the end and the write go under one lock.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (::fstat(fd, &st) != 0) platform::RaiseIoError(errno);
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
    const std::string bytes = line + "\r\n";
    try {
        platform::WriteAll(fd, bytes.data(), bytes.size());
        platform::SyncFile(fd);
    } catch (...) {
        // Half a line would run into the next one appended; the file keeps whole lines.
        (void)::ftruncate(fd, size);
        throw;
    }
    if (::close(closer.fd) != 0) {
        closer.fd = -1;
        platform::RaiseIoError(errno);
    }
    closer.fd = -1;
}

}  // namespace store
