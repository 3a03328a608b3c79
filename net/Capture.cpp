#include "net/Capture.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "net/SockLayer.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"

namespace net {

namespace {
// Room set aside for a download at most: a server's number is no reason to hold more of the
// disk than this while the data comes, nor more than half of what is free.
constexpr std::int64_t kReserveLimit = std::int64_t{4} << 30;
}  // namespace

DownloadFile::DownloadFile(const std::string& name) {
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd_ < 0) platform::RaiseIoError(errno);
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

DownloadFile::~DownloadFile() {
    if (fd_ < 0) return;
    Trim();
    ::close(fd_);
}

void DownloadFile::Reserve(std::int64_t size) {
    struct statvfs fs{};
    if (size <= 0 || size > kReserveLimit || ::fstatvfs(fd_, &fs) != 0) return;
    const auto freeBytes = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
    if (static_cast<unsigned long long>(size) > freeBytes / 2) return;
    // A reservation that fails part-way may keep what it took: it is given back alike.
    (void)::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, size);
    reserved_ = size;
}

// Frees reserved room past the end: a truncation to the file's own size does that.
void DownloadFile::Trim() {
    if (reserved_ <= 0) return;
    const std::int64_t room = reserved_;
    reserved_ = 0;
    struct stat st{};
    // A failure only leaves the reserved room in place: nothing to report.
    if (::fstat(fd_, &st) == 0 && st.st_size < room && ::ftruncate(fd_, st.st_size) != 0) {
    }
}

void DownloadFile::Write(const char* data, std::size_t size) { platform::WriteAll(fd_, data, size); }

// A FIFO that is full takes the buffer's way too: our pipe does not block, and the kernel
// then refuses to wait for the FIFO's reader (EAGAIN), where a write would wait.
void DownloadFile::TakeFromPipe(int pipeRead, std::size_t size, char* buffer, std::size_t bufferSize) {
    // The target may be a pipe whose reader goes away: the download then fails, the program
    // goes on.
    platform::BrokenPipeGuard noSignal;
    while (size > 0) {
        ssize_t w = ::splice(pipeRead, nullptr, fd_, nullptr, size, SPLICE_F_MOVE);
        if (w > 0) {
            size -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EINVAL && errno != ENOSYS && errno != EAGAIN) platform::RaiseIoError(errno);
        ssize_t got = ::read(pipeRead, buffer, std::min(size, bufferSize));
        if (got <= 0) platform::RaiseIoError(got < 0 ? errno : EIO);
        platform::WriteAll(fd_, buffer, static_cast<std::size_t>(got));
        size -= static_cast<std::size_t>(got);
    }
}

void DownloadFile::Close() {
    Trim();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) < 0) platform::RaiseIoError(errno);
}

SplicePipe::SplicePipe() {
    if (::pipe2(fd_, O_CLOEXEC | O_NONBLOCK) < 0) fd_[0] = fd_[1] = -1;
}

void SplicePipe::Drop() {
    for (int& f : fd_) {
        if (f >= 0) ::close(f);
        f = -1;
    }
}

}  // namespace net

void TBlockingSocket::CaptureFile(const std::string& fileName, std::int64_t expected) {
    ReportStatus(8, "CaptureFile");
    auto alive = alive_;
    bytesRecvd_ = 0;
    TimerScope timing(*this);
    net::DownloadFile file(fileName);
    file.Reserve(expected);
    // Pending events run on a clock rather than per block: often enough that the GUI never
    // notices the transfer, rarely enough that the event loop costs nothing at full speed.
    auto lastTurn = Clock::now();
    net::SplicePipe pipe;
    while (!canceled_) {
        ssize_t n = -1;
        bool spliced = false, receive = true;
        if (pipe.Usable()) {
            n = ::splice(sock_, nullptr, pipe.WriteEnd(), nullptr, kBufferSize, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                pipe.Drop();  // a socket that cannot splice: the buffer from here on
                continue;
            }
            spliced = n > 0;
            // A splice stops for good at a byte the peer marked urgent, and then reports an end
            // or nothing to read. A receive steps over that byte, so it has the last word on an
            // end or a wait; it costs a call only when there was nothing to move. An error the
            // splice took off the socket (a reset) stands.
            receive = n == 0 || (n < 0 && Transient(errno));
        }
        if (receive) n = ::recv(sock_, buffer_.data(), kBufferSize, MSG_DONTWAIT);
        int err = errno;
        ArmRead();
        const Received got = JudgeReceive(n, err);
        if (got == Received::Ended) break;
        if (got == Received::Retry) continue;
        if (got == Received::Wait) {
            if (!WaitForEvent(alive)) throw EAbortError("Socket send aborted");
            lastTurn = Clock::now();
            continue;
        }
        if (spliced) {
            file.TakeFromPipe(pipe.ReadEnd(), static_cast<std::size_t>(n), buffer_.data(), buffer_.size());
        } else {
            file.Write(buffer_.data(), static_cast<std::size_t>(n));
        }
        bytesRecvd_ += n;
        Fire(OnPacketRecvd, this);
        TimerOn();  // the time-out counts from the last block
        if (Clock::now() - lastTurn >= kEventTurn) {
            if (!PumpEvents(alive)) throw EAbortError("Socket send aborted");
            lastTurn = Clock::now();
        }
    }
    file.Close();
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}
