#include "pictures/PictureServer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QImage>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "pictures/PictureWire.h"
#include "pictures/Pictures.h"

namespace platform {

namespace {

using namespace picture_wire;

bool SendFailure(int fd, std::string text) {
    if (text.size() > kMaxText) text.resize(kMaxText);
    Message m;
    m.kind = kFailure;
    m.textLength = static_cast<std::uint32_t>(text.size());
    return SendAll(fd, m, text, -1);
}

// Pixels in a memory file that can be handed to the program. The decoder writes into it
// directly; sealed, it can no longer change or shrink under the reader.
class SharedPixels {
public:
    SharedPixels() = default;
    SharedPixels(const SharedPixels&) = delete;
    SharedPixels& operator=(const SharedPixels&) = delete;
    ~SharedPixels() {
        Unmap();
        if (fd_ >= 0) ::close(fd_);
    }

    uchar* Create(size_t length) {
        if (fd_ >= 0 || length == 0) return nullptr;
        fd_ = ::memfd_create(kHelperName, MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (fd_ < 0) return nullptr;
        if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) return nullptr;
        // Populated at once: one call instead of a page fault for every 4 KB the decoder
        // writes, which on a virtual machine costs more than the decoding.
        void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_, 0);
        if (address == MAP_FAILED) return nullptr;
        address_ = static_cast<uchar*>(address);
        length_ = length;
        return address_;
    }
    bool Holds(const QImage& image) const { return address_ && image.constBits() == address_; }
    // Seals the file (no writable mapping may remain) and returns it, still owned here.
    int Seal() {
        Unmap();
        if (fd_ < 0 || ::fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) return -1;
        return fd_;
    }

private:
    void Unmap() {
        if (address_) ::munmap(address_, length_);
        address_ = nullptr;
    }
    int fd_ = -1;
    uchar* address_ = nullptr;
    size_t length_ = 0;
};

bool SendPixels(int fd, const QImage& image, bool reduced, SharedPixels& shared, const std::string& path) {
    const size_t length = static_cast<size_t>(image.sizeInBytes());
    if (!shared.Holds(image)) {
        // Decoded elsewhere (bitmaps, metafiles): one copy into the shared file.
        uchar* memory = shared.Create(length);
        if (!memory) return SendFailure(fd, UnreadablePictureText(path, "画像が大きすぎます"));
        std::memcpy(memory, image.constBits(), length);
    }
    Message m;
    m.kind = kPixels;
    m.width = image.width();
    m.height = image.height();
    m.format = static_cast<std::int32_t>(image.format());
    m.bytesPerLine = image.bytesPerLine();
    m.reduced = reduced ? 1 : 0;
    const int sealed = shared.Seal();
    if (sealed < 0) return SendFailure(fd, UnreadablePictureText(path, "画像が大きすぎます"));
    return SendAll(fd, m, std::string(), sealed);
}

struct Request {
    enum { Ended, Broken, Got } state = Broken;
    std::string path;
    QSize atLeast;
    OwnedFd file;
};

// One request: the header, the file's name, and exactly one descriptor, the file. Anything
// else means the other side no longer follows the protocol.
Request ReceiveRequest(int fd) {
    Request r;
    Packet p = ReceivePacket(fd, sizeof(Message) + kMaxText);
    const ssize_t n = p.n;
    std::vector<int>& fds = p.fds;
    if (fds.size() == 1) r.file.Reset(fds.front());
    if (n == 0 && fds.empty()) {
        r.state = Request::Ended;
        return r;
    }
    Message m;
    if (n < static_cast<ssize_t>(sizeof m) || (p.flags & (MSG_TRUNC | MSG_CTRUNC)) || fds.size() != 1) {
        for (size_t i = 1; i < fds.size(); ++i) ::close(fds[i]);
        return r;
    }
    std::memcpy(&m, p.bytes.data(), sizeof m);
    if (m.magic != kMagic || m.kind != kLoad || m.textLength != static_cast<size_t>(n) - sizeof m) return r;
    r.path.assign(p.bytes.data() + sizeof m, m.textLength);
    r.atLeast = QSize(m.width, m.height);
    r.state = Request::Got;
    return r;
}

// Each picture gets a few seconds of processor time on top of what the helper has used;
// an endless loop ends even if nobody is left to kill the helper.
void LimitCpuForOnePicture() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    rlimit cpu{};
    ::getrlimit(RLIMIT_CPU, &cpu);
    const rlim_t wanted = static_cast<rlim_t>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 10;
    cpu.rlim_cur = cpu.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, cpu.rlim_max);
    ::setrlimit(RLIMIT_CPU, &cpu);
}

}  // namespace

int ServePictures(int fd) {
    rlimit core{0, 0};
    ::setrlimit(RLIMIT_CORE, &core);  // a decoder's crash leaves no core file in the user's folder
    Message hello;
    hello.kind = kHello;
    hello.pid = ::getpid();
    if (!SendAll(fd, hello, std::string(), -1)) return 1;
    for (;;) {
        Request request = ReceiveRequest(fd);
        if (request.state == Request::Ended) return 0;
        if (request.state == Request::Broken) return 1;
        const std::string& path = request.path;
        const QSize atLeast = request.atLeast;
        const int file = request.file.Get();
        LimitCpuForOnePicture();
        bool sent;
        SharedPixels shared;
        try {
            bool reduced = false;
            const QImage image = DecodePicturePixels(
                file, path,
                [&shared](int, int height, QImage::Format, qsizetype bytesPerLine) {
                    return shared.Create(static_cast<size_t>(bytesPerLine) * static_cast<size_t>(height));
                },
                atLeast, &reduced);
            // The user's file is let go before the answer: the program may reuse or remove it.
            request.file.Reset(-1);
            sent = image.isNull() ? SendFailure(fd, UnreadablePictureText(path, "画像がありません"))
                                  : SendPixels(fd, image, reduced, shared, path);
        } catch (const std::bad_alloc&) {
            request.file.Reset(-1);
            sent = SendFailure(fd, UnreadablePictureText(path, "画像が大きすぎます"));
        } catch (const std::exception& e) {
            request.file.Reset(-1);
            sent = SendFailure(fd, e.what());
        }
        if (!sent) return 1;
    }
}

}  // namespace platform
