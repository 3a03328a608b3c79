#pragma once
// Exception classes of the run-time that every handler may raise. Messages are UTF-8.
#include <stdexcept>
#include <string>

// Base class of every failure the program reports; the top-level guard shows its message.
class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failed text-file or directory operation; carries the Windows-style error code.
class EInOutError : public Exception {
public:
    EInOutError(int code, const std::string& message) : Exception(message), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

// A value that does not fit its range (16-bit numbers, buffer sizes).
class ERangeError : public Exception {
public:
    ERangeError() : Exception("範囲チェックエラー") {}
    explicit ERangeError(const std::string& m) : Exception(m) {}
};

// A text that should be a number but is not.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

namespace platform {

// The run-time's text for an I/O error code ("ファイルが見つかりません" for 2, ...).
std::string IoErrorText(int code);

// Maps a POSIX errno to the Windows-style code that the error texts are keyed by.
int IoCodeFromErrno(int err);

// Raises EInOutError for an errno, with the text for its mapped code.
[[noreturn]] void RaiseIoError(int err);

}  // namespace platform
