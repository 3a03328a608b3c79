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

#include "pictures/PictureWire.h"
#include "platform/Libexec.h"

extern char** environ;

namespace platform {

namespace {

// Process handles by system call: this C library's header declares them without C linkage.
int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
void PidfdKill(int pidfd) { ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0); }

using namespace picture_wire;

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
    Packet p = ReceivePacket(socket, sizeof(Message) + kMaxText + 1);
    const ssize_t n = p.n;
    if (n < 0 && (p.error == EAGAIN || p.error == EWOULDBLOCK)) return r;
    std::vector<int>& fds = p.fds;
    auto closeAll = [&fds] {
        for (int fd : fds) ::close(fd);
    };
    // A closed or broken socket, a cut or malformed message: the helper is no longer one we
    // can trust to follow the protocol.
    if (n <= 0 || (p.flags & (MSG_TRUNC | MSG_CTRUNC)) || static_cast<size_t>(n) < sizeof(Message)) {
        closeAll();
        r.state = Received::Closed;
        return r;
    }
    std::memcpy(&r.header, p.bytes.data(), sizeof(Message));
    if (r.header.magic != kMagic || r.header.textLength != static_cast<size_t>(n) - sizeof(Message) ||
        fds.size() > (r.header.kind == kPixels ? 1u : 0u)) {
        closeAll();
        r.state = Received::Closed;
        return r;
    }
    r.text.assign(p.bytes.data() + sizeof(Message), r.header.textLength);
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

}  // namespace platform
