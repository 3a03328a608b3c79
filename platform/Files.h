#pragma once
// Current directory and text files, with failures raised as EInOutError by Windows-style code.
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

// The system's text for an errno, for messages the user reads.
std::string SystemErrorText(int err);

// Writes all of `size` bytes to a descriptor, retrying after a signal; a failing write raises
// EInOutError with its error. What was written before stays written.
void WriteAll(int fd, const char* data, std::size_t size);

// A text file open for writing (created or truncated, or appended to). Buffered; every
// failure (also a full disk found at close) raises EInOutError. What was written before a
// failure stays in the file.
class TextFileWriter {
public:
    enum class Mode { Rewrite, Append };
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
    int fd_ = -1;
    std::string buffer_;
};

// Reads a text file line by line: a line ends at CR (one LF right after it is consumed too),
// at the end of the data, or at a character of code 26, which ends the data. An LF without a
// CR before it stays in the line. The first line is read before the end test, so an empty
// file gives one empty line. Failures raise EInOutError.
void ReadTextLines(const std::string& path, const std::function<void(const std::string&)>& onLine);

}  // namespace platform
