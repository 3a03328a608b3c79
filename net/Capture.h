#pragma once
// Where a download's bytes go: the local file, with room set aside for the announced size,
// and the pipe through which the kernel moves received pages into it without copying them.
// TBlockingSocket::CaptureFile (in Capture.cpp) feeds them from the data connection.
#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

// The local file of a download. Room set aside past what was written (a short or failed
// transfer) is given back on every way out; the file is closed on every way out.
class DownloadFile {
public:
    // Creates or empties the file; EInOutError when that fails. The open does not wait: a
    // FIFO under the name without a reader would hold the GUI until one came. Writes block
    // as usual.
    explicit DownloadFile(const std::string& name);
    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // Sets aside room for `size` bytes in one step, so that the file system does not find
    // blocks page by page while data streams in (a fifth of a fast download's time). Only an
    // optimisation: where it is not cheap and safe, the download goes on without it.
    void Reserve(std::int64_t size);
    void Write(const char* data, std::size_t size);
    // Moves `size` bytes that wait in the pipe's read end into the file. Where the file takes
    // no splice they go through `buffer`.
    void TakeFromPipe(int pipeRead, std::size_t size, char* buffer, std::size_t bufferSize);
    // Gives back unused room and closes; EInOutError when the close reports lost data.
    void Close();

private:
    void Trim();
    int fd_ = -1;
    std::int64_t reserved_ = 0;
};

// A block's way from the socket to the file: the kernel hands the received pages on instead
// of copying them out to us and back in, which halves the copying at full speed. Without a
// pipe, or with a socket that cannot take part, blocks go through the buffer.
class SplicePipe {
public:
    SplicePipe();
    ~SplicePipe() { Drop(); }
    SplicePipe(const SplicePipe&) = delete;
    SplicePipe& operator=(const SplicePipe&) = delete;
    bool Usable() const { return fd_[0] >= 0; }
    int ReadEnd() const { return fd_[0]; }
    int WriteEnd() const { return fd_[1]; }
    void Drop();

private:
    int fd_[2] = {-1, -1};
};

}  // namespace net
