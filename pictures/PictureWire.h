#pragma once
// The wire between the program and its picture helper: one message each way on a packet
// socket, the descriptors that travel beside it, and the limits both sides hold to.
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform::picture_wire {

constexpr std::uint32_t kMagic = 0x43495054;  // "TPIC"
enum Kind : std::uint32_t { kHello = 1, kPixels = 2, kFailure = 3, kLoad = 4 };

// One message each way; on a packet socket it arrives whole or not at all. Text (a path, an
// error text) follows the header; pixels come as a sealed memory file beside it. A request
// for a thumbnail gives its size in width and height; pixels decoded at a reduction say so.
struct Message {
    std::uint32_t magic = kMagic;
    std::uint32_t kind = 0;
    std::int32_t pid = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t format = 0;
    std::int64_t bytesPerLine = 0;
    std::uint32_t textLength = 0;
    std::uint32_t reduced = 0;
};

constexpr std::size_t kMaxText = 60000;
constexpr const char* kHelperName = "tessaly-picture";

class OwnedFd {
public:
    OwnedFd() = default;
    OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd() { Reset(-1); }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int Get() const { return fd_; }

private:
    int fd_ = -1;
};

// Sends the header, then `text`, as one message, with `passFd` beside it when it is not -1.
bool SendAll(int fd, const Message& m, const std::string& text, int passFd);

// One message as recvmsg gave it (retried when interrupted), with at most `byteLimit` bytes
// and the descriptors that came with it, taken close-on-exec and owned by the caller.
struct Packet {
    ssize_t n = -1;
    int error = 0;  // errno when n < 0
    int flags = 0;  // MSG_TRUNC, MSG_CTRUNC
    std::vector<char> bytes;
    std::vector<int> fds;
};
Packet ReceivePacket(int fd, std::size_t byteLimit);

}  // namespace platform::picture_wire
