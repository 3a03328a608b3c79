#include "pictures/PictureHelper.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "platform/Libexec.h"

extern char** environ;

namespace platform {

namespace {

// Process handles by system call: this C library's header declares them without C linkage.
int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
void PidfdKill(int pidfd) { ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0); }

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

// Resident memory a helper may reach above what it had at start: the picture's budget, and
// room for the sanitizers' shadow memory in checked builds.
constexpr unsigned long long kResidentAllowance = kPictureBudgetBytes + kPictureBudgetBytes / 4 + 64ull * 1024 * 1024;

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/statm");
    long size = 0, resident = 0;
    if (!(in >> size >> resident)) return 0;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

bool IsExecutable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

PictureHelperSettings& Settings() {
    static PictureHelperSettings settings;
    return settings;
}

std::string HelperProgram() {
    if (!Settings().program.empty()) return Settings().program;
    return LibexecFile(kHelperName, true);
}

struct Helper {
    int socket = -1;
    pid_t pid = -1;
    int pidfd = -1;
    bool greeted = false;
    long baselineKb = 0;

    Helper() = default;
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    ~Helper() { Kill(); }

    void Kill() {
        // Through the pidfd: the helper is not our child, and a bare pid might by now name
        // another process.
        if (pidfd >= 0) {
            PidfdKill(pidfd);
            ::close(pidfd);
            pidfd = -1;
        }
        if (socket >= 0) {
            ::close(socket);
            socket = -1;
        }
    }
};

std::vector<std::unique_ptr<Helper>>& Idle() {
    static std::vector<std::unique_ptr<Helper>> idle;
    return idle;
}

std::vector<Helper*>& Busy() {
    static std::vector<Helper*> busy;
    return busy;
}

// Started like any other program of ours (two forks, nothing left to reap), with the
// socket as descriptor 3 and the offscreen platform.
std::unique_ptr<Helper> Spawn() {
    const std::string program = HelperProgram();
    if (program.empty() || !IsExecutable(program)) return nullptr;
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.emplace_back(*e);
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};

    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return nullptr;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(sv[0]);
        ::close(sv[1]);
        return nullptr;
    }
    const pid_t middle = ::fork();
    if (middle == 0) {
        const pid_t helper = ::fork();
        if (helper == 0) {
            if (sv[1] == 3)
                ::fcntl(3, F_SETFD, 0);
            else
                ::dup2(sv[1], 3);
            ::execve(argv[0], argv, envp.data());
            ::_exit(127);
        }
        (void)!::write(report[1], &helper, sizeof helper);
        ::_exit(0);
    }
    ::close(sv[1]);
    ::close(report[1]);
    pid_t helper = -1;
    if (middle > 0) {
        while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
        }
        while (::read(report[0], &helper, sizeof helper) < 0 && errno == EINTR) {
        }
    }
    ::close(report[0]);
    auto h = std::make_unique<Helper>();
    h->socket = sv[0];
    if (helper <= 0) return nullptr;  // closes the socket
    h->pid = helper;
    h->pidfd = PidfdOpen(helper);
    ::fcntl(h->socket, F_SETFL, ::fcntl(h->socket, F_GETFL) | O_NONBLOCK);
    return h;
}

std::unique_ptr<Helper> TakeHelper() {
    auto& idle = Idle();
    if (!idle.empty()) {
        std::unique_ptr<Helper> h = std::move(idle.back());
        idle.pop_back();
        return h;
    }
    return Spawn();
}

// One helper waits for the next picture; more would only hold memory.
void ReturnHelper(std::unique_ptr<Helper> h) {
    if (Idle().empty()) Idle().push_back(std::move(h));
}

struct ScopedBusy {
    explicit ScopedBusy(Helper* h) : helper(h) { Busy().push_back(h); }
    ~ScopedBusy() { std::erase(Busy(), helper); }
    Helper* helper;
};

struct Received {
    enum { Nothing, Closed, Got } state = Nothing;
    Message header;
    std::string text;
    int fd = -1;
};

// Reads one message without blocking. Descriptors that came with it are taken, and closed
// unless it was a picture that carried exactly one.
Received Receive(int socket) {
    Received r;
    std::vector<char> buffer(sizeof(Message) + kMaxText + 1);
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return r;
    std::vector<int> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); n >= 0 && c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            fds.push_back(fd);
        }
    }
    auto closeAll = [&fds] {
        for (int fd : fds) ::close(fd);
    };
    // A closed or broken socket, a cut or malformed message: the helper is no longer one we
    // can trust to follow the protocol.
    if (n <= 0 || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) || static_cast<size_t>(n) < sizeof(Message)) {
        closeAll();
        r.state = Received::Closed;
        return r;
    }
    std::memcpy(&r.header, buffer.data(), sizeof(Message));
    if (r.header.magic != kMagic || r.header.textLength != static_cast<size_t>(n) - sizeof(Message) ||
        fds.size() > (r.header.kind == kPixels ? 1u : 0u)) {
        closeAll();
        r.state = Received::Closed;
        return r;
    }
    r.text.assign(buffer.data() + sizeof(Message), r.header.textLength);
    if (!fds.empty()) r.fd = fds.front();
    r.state = Received::Got;
    return r;
}

struct Mapping {
    void* address;
    size_t length;
};

void Unmap(void* info) {
    auto* m = static_cast<Mapping*>(info);
    ::munmap(m->address, m->length);
    delete m;
}

// Pixels from the helper's memory file, checked before they are touched: a known layout, a
// size within the budget, a file at least that long and sealed so that it can neither
// shrink (a read past its end would kill us) nor change under us.
QImage PixelsFrom(const Message& h, int fd) {
    int bytesPerPixel = 0;
    switch (static_cast<QImage::Format>(h.format)) {
        case QImage::Format_RGB888: bytesPerPixel = 3; break;
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
        case QImage::Format_ARGB32_Premultiplied: bytesPerPixel = 4; break;
        default: return QImage();
    }
    if (h.width <= 0 || h.height <= 0) return QImage();
    const unsigned long long minLine = static_cast<unsigned long long>(h.width) * bytesPerPixel;
    if (h.bytesPerLine < 0 || static_cast<unsigned long long>(h.bytesPerLine) < minLine ||
        static_cast<unsigned long long>(h.bytesPerLine) > minLine + 64)
        return QImage();
    const unsigned long long length = static_cast<unsigned long long>(h.bytesPerLine) * static_cast<unsigned long long>(h.height);
    if (length > kPictureBudgetBytes) return QImage();
    const int seals = ::fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (seals & (F_SEAL_SHRINK | F_SEAL_WRITE)) != (F_SEAL_SHRINK | F_SEAL_WRITE)) return QImage();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<unsigned long long>(st.st_size) < length) return QImage();
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);  // one call, not a fault a page
    if (address == MAP_FAILED) return QImage();
    auto* mapping = new Mapping{address, length};
    QImage image(static_cast<const uchar*>(address), h.width, h.height, static_cast<qsizetype>(h.bytesPerLine),
                 static_cast<QImage::Format>(h.format), Unmap, mapping);
    if (image.isNull()) Unmap(mapping);
    return image;
}

struct Outcome {
    bool done = false;
    bool helperHealthy = false;
    bool closedAtOnce = false;  // the helper went away before it answered anything
    bool reduced = false;
    QImage image;
    std::string error;
};

Outcome Await(Helper& h, const std::string& path, const std::function<bool()>& wanted) {
    Outcome out;
    QEventLoop loop;
    auto finish = [&](bool healthy, QImage image, std::string error) {
        if (out.done) return;
        out.done = true;
        out.helperHealthy = healthy;
        out.image = std::move(image);
        out.error = std::move(error);
        loop.quit();
    };
    auto fault = [&](const char* reason) { finish(false, QImage(), UnreadablePictureText(path, reason)); };
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        fault(h.greeted ? "読み込みに時間がかかりすぎます" : "画像を読み込むプログラムを起動できません");
    });
    deadline.start(h.greeted ? Settings().deadlineMs : Settings().startMs);
    // Memory is watched from here as well: in checked builds the helper cannot limit its
    // address space, and a limit it sets itself is only as good as the helper.
    QTimer memory;
    QObject::connect(&memory, &QTimer::timeout, [&] {
        // A picture nobody waits for any more holds no helper (nor its memory).
        if (wanted && !wanted()) return fault("読み込みが中断されました");
        if (h.greeted && (ResidentKb(h.pid) - h.baselineKb) * 1024ll > static_cast<long long>(kResidentAllowance))
            fault("画像が大きすぎます");
    });
    memory.start(50);
    QSocketNotifier readable(h.socket, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [&] {
        while (!out.done) {
            Received r = Receive(h.socket);
            if (r.state == Received::Nothing) return;
            if (r.state == Received::Closed) {
                out.closedAtOnce = true;
                return fault(h.greeted ? "読み込み中に異常が起きました" : "画像を読み込むプログラムを起動できません");
            }
            if (r.header.kind == kHello && !h.greeted && r.header.pid == h.pid) {
                h.greeted = true;
                h.baselineKb = ResidentKb(h.pid);
                deadline.start(Settings().deadlineMs);
                continue;
            }
            if (!h.greeted) {
                if (r.fd >= 0) ::close(r.fd);
                return fault("画像を読み込むプログラムを起動できません");
            }
            if (r.header.kind == kFailure && r.fd < 0) return finish(true, QImage(), r.text);
            if (r.header.kind == kPixels && r.fd >= 0) {
                QImage image = PixelsFrom(r.header, r.fd);
                ::close(r.fd);
                if (image.isNull()) return fault("読み込み中に異常が起きました");
                out.reduced = r.header.reduced != 0;
                return finish(true, std::move(image), std::string());
            }
            if (r.fd >= 0) ::close(r.fd);
            return fault("読み込み中に異常が起きました");
        }
    });
    loop.exec();
    if (!out.done) out.error = UnreadablePictureText(path, "読み込みが中断されました");
    return out;
}

bool SendAll(int fd, const Message& m, const std::string& text, int passFd) {
    std::string packet(reinterpret_cast<const char*>(&m), sizeof m);
    packet += text;
    iovec iov{packet.data(), packet.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (passFd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
    }
    ssize_t n;
    while ((n = ::sendmsg(fd, &msg, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return n == static_cast<ssize_t>(packet.size());
}

// The file goes as an open descriptor beside its name: the helper reads what the program
// opened and never opens a path of the user's itself. The name only gives the kind and
// names the file in error texts.
bool SendRequest(Helper& h, const std::string& path, QSize atLeast, int file) {
    Message m;
    m.kind = kLoad;
    m.width = std::max(0, atLeast.width());
    m.height = std::max(0, atLeast.height());
    m.textLength = static_cast<std::uint32_t>(path.size());
    return SendAll(h.socket, m, path, file);
}

// ---- the helper's side ----

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
    std::vector<char> buffer(sizeof(Message) + kMaxText);
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(fd, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    std::vector<int> fds;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); n >= 0 && c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int passed;
            std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
            fds.push_back(passed);
        }
    }
    if (fds.size() == 1) r.file.Reset(fds.front());
    if (n == 0 && fds.empty()) {
        r.state = Request::Ended;
        return r;
    }
    Message m;
    if (n < static_cast<ssize_t>(sizeof m) || (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) || fds.size() != 1) {
        for (size_t i = 1; i < fds.size(); ++i) ::close(fds[i]);
        return r;
    }
    std::memcpy(&m, buffer.data(), sizeof m);
    if (m.magic != kMagic || m.kind != kLoad || m.textLength != static_cast<size_t>(n) - sizeof m) return r;
    r.path.assign(buffer.data() + sizeof m, m.textLength);
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

namespace {

Outcome LoadContained(const std::string& path, QSize atLeast, const std::function<bool()>& wanted) {
    if (path.size() > kMaxText) throw EInvalidGraphic(UnreadablePictureText(path, "名前が長すぎます"));
    // Opened here, with the user's rights, and read there: an unreadable file gets the same
    // box as ever without a helper being asked.
    CheckPictureKind(path);
    OwnedFd file;
    file.Reset(OpenPictureFile(path));
    const int opened = file.Get();
    const bool fromPool = !Idle().empty();
    std::unique_ptr<Helper> h = TakeHelper();
    // An idle helper may have died since its last picture: one more try with a new one.
    for (int attempt = 0; h && !SendRequest(*h, path, atLeast, opened) && attempt < 1; ++attempt) h = Spawn();
    if (!h || h->socket < 0) throw EInvalidGraphic(UnreadablePictureText(path, "画像を読み込むプログラムを起動できません"));
    Outcome out;
    {
        ScopedBusy busy(h.get());
        if (Settings().onRequestSent) Settings().onRequestSent(h->pid);
        out = Await(*h, path, wanted);
    }
    // A waiting helper that was still dying took the request with it: that says nothing
    // about this picture, so it gets one fresh helper before it is called unreadable.
    if (fromPool && !out.helperHealthy && out.closedAtOnce) {
        const std::string first = out.error;
        h = Spawn();
        if (h && SendRequest(*h, path, atLeast, opened)) {
            ScopedBusy busy(h.get());
            if (Settings().onRequestSent) Settings().onRequestSent(h->pid);
            out = Await(*h, path, wanted);
            // Gone again with this picture: the picture is what takes a helper down.
            if (!out.helperHealthy && out.closedAtOnce) out.error = first;
        }
    }
    if (out.helperHealthy)
        ReturnHelper(std::move(h));
    else
        h.reset();
    if (Idle().empty()) PreparePictureHelper();
    if (out.image.isNull()) throw EInvalidGraphic(out.error);
    return out;
}

}  // namespace

Picture LoadPictureContained(const std::string& path, const std::function<bool()>& wanted) {
    return Picture::FromImage(LoadContained(path, QSize(), wanted).image);
}

Thumbnail LoadThumbnailContained(const std::string& path, QSize atLeast, const std::function<bool()>& wanted) {
    Outcome out = LoadContained(path, atLeast.isValid() ? atLeast : QSize(), wanted);
    return Thumbnail{Picture::FromImage(std::move(out.image)), !out.reduced};
}

void PreparePictureHelper() {
    if (!Idle().empty()) return;
    if (std::unique_ptr<Helper> h = Spawn()) Idle().push_back(std::move(h));
}

PictureHelperSettings& PictureHelperTuning() { return Settings(); }

std::vector<pid_t> PictureHelperPids() {
    std::vector<pid_t> pids;
    for (const auto& h : Idle()) pids.push_back(h->pid);
    for (const Helper* h : Busy()) pids.push_back(h->pid);
    return pids;
}

void StopPictureHelpers() { Idle().clear(); }

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
