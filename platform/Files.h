#pragma once
// Current directory and text files, with failures raised as EInOutError by Windows-style code.
#include <limits.h>
#include <signal.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// The directory separator used where a folder and a name are joined.
inline constexpr char kPathSeparator = '/';

// `dir`, the separator and `name`: every file the program names in its working folder is
// built this way. A folder that already ends in the separator (the root) gets a second one,
// which the file functions accept.
inline std::string JoinPath(const std::string& dir, const std::string& name) {
    std::string path = dir;
    path += kPathSeparator;
    path += name;
    return path;
}

std::string GetCurrentDir();
// Changes the process's current directory; a failure raises EInOutError whose text is
// always "I/O エラー (code)".
void SetCurrentDir(const std::string& dir);

// True when a plain file (not a folder) of that name exists.
bool FileExists(const std::string& path);
// True when anything (file or folder) of that name exists.
bool PathExists(const std::string& path);
// Deletes a file; on failure returns false and sets `err` to the errno. A path holding a
// NUL byte names no file: none of these three functions looks it up.
bool DeleteFile(const std::string& path, int* err = nullptr);
// The size of a plain file; -1 when there is none (also for a path holding a NUL byte).
std::int64_t FileSize(const std::string& path);
// Deletes `path` only when it is a plain file itself (not a link, folder or other kind);
// true when it did.
bool DeletePlainFile(const std::string& path);
// Creates an empty plain file unless anything of that name exists; true when it made one.
bool CreateFileIfMissing(const std::string& path);

// The name of an entry of `folder` ("" for the current folder) that equals `name` when the
// letters A-Z and a-z compare equal, of any kind, hidden or not; of several such names the
// least in byte order, so the choice is the same on every call. Empty when there is none or
// the folder cannot be read. Reads the folder itself, not through the drives service: this
// is for the program's own files in its working folder, not for searches.
std::string FindNameIgnoringCase(const std::string& folder, const std::string& name);

// The system's text for an errno, for messages the user reads.
std::string SystemErrorText(int err);

// Writes all of `size` bytes to a descriptor, retrying after a signal; a failing write raises
// EInOutError with its error. What was written before stays written. A pipe whose reader has
// gone fails with EPIPE instead of ending the process.
void WriteAll(int fd, const char* data, std::size_t size);

// While an object lives, a write into a pipe or socket whose reader has gone fails with EPIPE
// on this thread instead of ending the process with SIGPIPE. The signal stays at its default
// everywhere else, so programs started later get the usual disposition.
class BrokenPipeGuard {
public:
    BrokenPipeGuard();
    ~BrokenPipeGuard();
    BrokenPipeGuard(const BrokenPipeGuard&) = delete;
    BrokenPipeGuard& operator=(const BrokenPipeGuard&) = delete;

private:
    bool blockedBefore_ = false;
    sigset_t old_{};
};

// The steps by which the file functions change the disk. Tests hook them to stop the process
// at any one of them, as a power cut or a kill would.
enum class FileStep { Create, Write, Sync, Rename, Truncate };
// Called before each step; for a write with the descriptor and the bytes about to be written.
using FileStepHook = void (*)(FileStep step, int fd, const char* data, std::size_t size);
void SetFileStepHook(FileStepHook hook);
// Runs the hook, if any, for a step about to be taken.
void BeforeFileStep(FileStep step, int fd = -1, const char* data = nullptr, std::size_t size = 0);

// fsync, raising EInOutError on failure.
void SyncFile(int fd);
// Makes the entries of a folder (a rename, a new file) reach the disk. File systems that
// cannot sync a folder are not an error.
void SyncFolderOf(const std::string& path);
// Moves a file onto another name in the same folder, replacing a file of that name, once its
// data is on the disk: the new name never shows a file that is not whole.
void ReplaceFile(const std::string& from, const std::string& to);

// A text file open for writing (created or truncated, or appended to). Buffered; every
// failure (also a full disk found at close) raises EInOutError. What was written before a
// failure stays in the file.
//
// Replace writes a new file beside the old one under a hidden temporary name and moves it onto
// the name only at Close, once it is on the disk: the name shows the old file or the whole new
// one, never a part, whenever the process or the machine stops. On failure, or when the writer
// goes without Close, the temporary file is removed and the old file stays as it was.
class TextFileWriter {
public:
    enum class Mode { Rewrite, Append, Replace };
    TextFileWriter(const std::string& path, Mode mode);
    ~TextFileWriter();
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;

    void Write(std::string_view bytes);
    void WriteLine(std::string_view bytes) {
        Write(bytes);
        Write("\r\n");
    }
    void Close();

private:
    void Flush();
    void Discard();
    int fd_ = -1;
    std::string buffer_;
    std::string path_;
    std::string temp_;  // Replace only
};

// The temporary name that a Replace writer uses for `path` in this process. Temporary files of
// processes that no longer run are removed by the next Replace of the same name.
std::string ReplaceTempPath(const std::string& path);
// Removes what ReplaceTempPath(path) named in processes that no longer run, and in this one.
void RemoveStaleReplaceTemps(const std::string& path);

// Writes a whole file as a Replace writer does.
void ReplaceFileContents(const std::string& path, std::string_view bytes);

// The longest line a text file of the program may hand on: no path the system allows is
// longer, so a longer line in a stored list or the download log names no file.
inline constexpr std::size_t kLongestLine = PATH_MAX;

// What the splitter does with a line longer than its limit. Either way the line costs no
// more memory than the limit, however long it runs.
enum class LongLine {
    Skip,  // read past: not handed on, the next line follows
    Cut,   // its first `limit` bytes handed on
};

// Splits text into lines as ReadTextLines describes, fed in pieces of any size.
class TextLineSplitter {
public:
    explicit TextLineSplitter(std::function<void(const std::string&)> onLine, std::size_t limit = kLongestLine,
                              LongLine longLine = LongLine::Skip)
        : onLine_(std::move(onLine)), limit_(limit), longLine_(longLine) {}
    // False once a character of code 26 has ended the data; later bytes are not looked at.
    bool Feed(const char* data, std::size_t size);
    // `count` NUL bytes, as a hole in a sparse file reads, without touching them one by one.
    void FeedNuls(std::uint64_t count);
    // The end of the data. With `dropUnended`, a last line that no CR ended is not handed on:
    // a file appended to line by line holds such a line only when an append was cut off.
    void Finish(bool dropUnended = false);

private:
    void Append(const char* from, const char* to);
    void Hand();

    std::function<void(const std::string&)> onLine_;
    std::size_t limit_;
    LongLine longLine_;
    std::string line_;
    bool long_ = false;  // the line has run past the limit; line_ holds its first `limit_` bytes
    // A line has begun and is not yet handed on; the first one begins with the data, so that
    // empty data gives one empty line.
    bool open_ = true;
    bool afterCr_ = false;  // the last line ended at a CR: one LF right after it belongs to it
    bool ended_ = false;    // code 26 seen
};

// Reads a plain file in pieces, handing each to `onChunk` until it returns false or the data
// ends. Failures raise EInOutError; anything but a plain file is refused as for text files.
// With `onHole`, the holes of a sparse file are handed there as their length (they read as NUL
// bytes) instead of being read, so a file of gigabytes that holds nothing costs no time.
void ReadFileChunks(const std::string& path, const std::function<bool(const char*, std::size_t)>& onChunk,
                    const std::function<void(std::uint64_t)>& onHole = {});

// Reads a text file line by line: a line ends at CR (one LF right after it is consumed too),
// at the end of the data, or at a character of code 26, which ends the data. An LF without a
// CR before it stays in the line. The first line is read before the end test, so an empty
// file gives one empty line. A line longer than kLongestLine is read past without being kept.
// Failures raise EInOutError. With `dropUnended`, see TextLineSplitter::Finish.
void ReadTextLines(const std::string& path, const std::function<void(const std::string&)>& onLine,
                   bool dropUnended = false);

}  // namespace platform
