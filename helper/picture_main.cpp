// The picture helper: decodes the pictures the program shows, one at a time, under limits
// of memory and processor time, and hands back their pixels. Started by the program with a
// socket as descriptor 3; ends when the program closes it or goes away. Before the first
// picture it locks itself in (pictures/LockIn.h): it reads only the files the program
// hands it open, and can start, open, reach or signal nothing else.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Fonts.h"
#include "pictures/LockIn.h"
#include "pictures/PictureServer.h"
#include "pictures/Pictures.h"

namespace {

constexpr int kSocket = 3;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

unsigned long long AddressSpaceBytes() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmSize:", 0) == 0) return std::strtoull(line.c_str() + 7, nullptr, 10) * 1024;
    return 0;
}

// What the helper has mapped once it is ready, plus one picture's budget and some room for
// the decoders' own bookkeeping: an allocation past it fails instead of taking the machine.
// (The sanitizers reserve terabytes of address space; the program watches those builds'
// resident memory instead.)
void LimitMemory() {
    if (kSanitized) return;
    const unsigned long long now = AddressSpaceBytes();
    if (now == 0) return;
    rlimit as{};
    ::getrlimit(RLIMIT_AS, &as);
    const rlim_t wanted = static_cast<rlim_t>(now + platform::kPictureBudgetBytes + 256ull * 1024 * 1024);
    if (as.rlim_max != RLIM_INFINITY && as.rlim_max < wanted) return;
    as.rlim_cur = wanted;
    ::setrlimit(RLIMIT_AS, &as);
}

// Nothing of the program's but the socket: no descriptor it let slip through without
// close-on-exec (a file open for writing would stay writable under the lock-in), and no
// terminal or log to read from or write into but standard error.
void KeepOnlyTheSocket() {
    ::close_range(kSocket + 1, ~0u, 0);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) return;
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::close(null);
}

}  // namespace

int main(int argc, char** argv) {
    KeepOnlyTheSocket();
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::PrepareDecodersForLockIn();
    LimitMemory();
    // With one thread still, so that every thread is locked in.
    const platform::LockInReport lock = platform::LockIn(platform::LockInRules{platform::PictureReadableFolders()});
    if (!lock.missing.empty()) std::fprintf(stderr, "tessaly-picture: %s\n", lock.missing.c_str());
    // The program gone, the helper goes too, even in the middle of a picture.
    std::thread([] {
        pollfd p{kSocket, 0, 0};
        for (;;) {
            if (::poll(&p, 1, -1) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) ::_exit(0);
        }
    }).detach();
    return platform::ServePictures(kSocket);
}
