#include "pictures/LockIn.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QBuffer>
#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>


#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_LOCKIN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_LOCKIN_SANITIZED 1
#endif
#endif
#ifdef TESSALY_LOCKIN_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace platform {

namespace {

// ---- Landlock, by system call: the C library has no wrappers ----

constexpr std::uint32_t kCreateRulesetVersion = 1u << 0;
constexpr int kRulePathBeneath = 1;

// The kernel's structures as of its newest fields; an older kernel is given the prefix it knows.
struct RulesetAttr {
    std::uint64_t handledAccessFs;
    std::uint64_t handledAccessNet;
    std::uint64_t scoped;
};
struct __attribute__((packed)) PathBeneathAttr {
    std::uint64_t allowedAccess;
    std::int32_t parentFd;
};

constexpr std::uint64_t kReadFile = 1ull << 2;
constexpr std::uint64_t kReadDir = 1ull << 3;
// Every file-system right of each version: execute, write, read, read folder, remove folder,
// remove file, make char/dir/reg/sock/fifo/block/sym (1); refer (2); truncate (3); device ioctl (5).
std::uint64_t FsRights(int abi) {
    std::uint64_t rights = (1ull << 13) - 1;
    if (abi >= 2) rights |= 1ull << 13;
    if (abi >= 3) rights |= 1ull << 14;
    if (abi >= 5) rights |= 1ull << 15;
    return rights;
}
constexpr std::uint64_t kNetBindTcp = 1ull << 0, kNetConnectTcp = 1ull << 1;
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ull << 0, kScopeSignal = 1ull << 1;

int LandlockAbi() {
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
    return abi < 0 ? 0 : static_cast<int>(abi);
}

void AllowReading(int ruleset, int abi, const std::string& path) {
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return;  // a folder that is not there needs no rule
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        // A single file takes only file rights.
        PathBeneathAttr rule{S_ISDIR(st.st_mode) ? kReadFile | kReadDir : kReadFile, fd};
        rule.allowedAccess &= FsRights(abi);
        ::syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &rule, 0);
    }
    ::close(fd);
}

// Returns the version in force, or 0 when the kernel offers none.
int RestrictFiles(const std::vector<std::string>& readable) {
    const int abi = LandlockAbi();
    if (abi <= 0) return 0;
    RulesetAttr attr{FsRights(abi), 0, 0};
    size_t size = offsetof(RulesetAttr, handledAccessNet);
    if (abi >= 4) {
        // No TCP either, should a socket be had somehow.
        attr.handledAccessNet = kNetBindTcp | kNetConnectTcp;
        size = offsetof(RulesetAttr, scoped);
    }
    if (abi >= 6) {
        // No signals to processes outside, no abstract sockets of others.
        attr.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        size = sizeof attr;
    }
    const int ruleset = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0) return 0;
    for (const std::string& path : readable) AllowReading(ruleset, abi, path);
    const long done = ::syscall(SYS_landlock_restrict_self, ruleset, 0);
    ::close(ruleset);
    return done == 0 ? abi : 0;
}

// ---- seccomp ----

// Calls such code has no use for. (Names this architecture lacks are passed over.)
constexpr const char* kRefused[] = {
    // network and other processes' sockets
    "socket", "socketpair", "connect", "bind", "listen", "accept", "accept4",
    // programs and processes
    "execve", "execveat", "fork", "vfork", "process_vm_readv", "process_vm_writev", "pidfd_open", "pidfd_getfd",
    "pidfd_send_signal", "tkill", "kcmp", "process_madvise", "process_mrelease", "migrate_pages", "move_pages",
    // files: writing, making, removing, changing
    "creat", "openat2", "open_by_handle_at", "name_to_handle_at", "mkdir", "mkdirat", "rmdir", "unlink", "unlinkat",
    "rename", "renameat", "renameat2", "link", "linkat", "symlink", "symlinkat", "mknod", "mknodat", "chmod", "fchmod",
    "fchmodat", "fchmodat2", "chown", "fchown", "lchown", "fchownat", "truncate", "utime", "utimes", "futimesat",
    "utimensat", "setxattr", "lsetxattr", "fsetxattr", "removexattr", "lremovexattr", "fremovexattr",
    // mounts, namespaces, the machine
    "mount", "umount2", "pivot_root", "chroot", "setns", "unshare", "fsopen", "fsconfig", "fsmount", "fspick",
    "move_mount", "open_tree", "mount_setattr", "quotactl", "quotactl_fd", "swapon", "swapoff", "reboot", "kexec_load",
    "kexec_file_load", "init_module", "finit_module", "delete_module", "acct", "sethostname", "setdomainname",
    "settimeofday", "clock_settime", "clock_adjtime", "adjtimex", "iopl", "ioperm", "syslog", "vhangup", "uselib",
    "personality", "lookup_dcookie", "nfsservctl",
    // identity
    "setuid", "setgid", "setreuid", "setregid", "setresuid", "setresgid", "setfsuid", "setfsgid", "setgroups", "capset",
    // the kernel's other doors
    "bpf", "perf_event_open", "userfaultfd", "keyctl", "add_key", "request_key", "io_uring_setup", "io_uring_enter",
    "io_uring_register", "fanotify_init", "fanotify_mark", "flock",
};

// Calls newer than this libseccomp, by their numbers (the same on every architecture from 424
// on): setxattrat, removexattrat, open_tree_attr, file_setattr. Landlock does not cover
// extended attributes.
constexpr int kRefusedNewer[] = {463, 466, 467, 469};

// A comparison of argument `arg` (from 0); the masked one compares (argument & a) with b.
scmp_arg_cmp Arg(unsigned arg, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) { return scmp_arg_cmp{arg, op, a, b}; }

bool Add(scmp_filter_ctx ctx, std::uint32_t action, const char* name, std::initializer_list<scmp_arg_cmp> args = {}) {
    const int nr = seccomp_syscall_resolve_name(name);
    if (nr == __NR_SCMP_ERROR) return true;
    return seccomp_rule_add_array(ctx, action, nr, static_cast<unsigned>(args.size()), args.begin()) == 0;
}

bool Filter() {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    if (!ctx) return false;
    const std::uint32_t refuse = SCMP_ACT_ERRNO(EPERM);
    // Every thread, and calls of another architecture's numbering (x86 from x86-64) refused too.
    bool ok = seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0 && seccomp_attr_set(ctx, SCMP_FLTATR_ACT_BADARCH, refuse) == 0;
    for (const char* name : kRefused) ok = ok && Add(ctx, refuse, name);
    for (const int nr : kRefusedNewer) ok = ok && seccomp_rule_add(ctx, refuse, nr, 0) == 0;
#ifndef TESSALY_LOCKIN_SANITIZED
    ok = ok && Add(ctx, refuse, "ptrace");
    // Threads, not processes.
    ok = ok && Add(ctx, refuse, "clone", {Arg(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)});
#else
    // The leak checker stops the world from a helper that shares the memory (no thread) and
    // traces the threads (Landlock keeps it from tracing anything outside). Processes that
    // share nothing stay refused, and no program can be started in any.
    ok = ok && Add(ctx, refuse, "clone", {Arg(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD | CLONE_VM, 0)});
#endif
    for (const std::uint64_t ns : {CLONE_NEWNS, CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWIPC, CLONE_NEWUTS, CLONE_NEWCGROUP})
        ok = ok && Add(ctx, refuse, "clone", {Arg(0, SCMP_CMP_MASKED_EQ, ns, ns)});
    // Its flags are out of the filter's reach: the C library then falls back to clone.
    ok = ok && Add(ctx, SCMP_ACT_ERRNO(ENOSYS), "clone3");
    // Opening for reading only.
    for (const int flag : {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC, O_APPEND}) {
        ok = ok && Add(ctx, refuse, "open", {Arg(1, SCMP_CMP_MASKED_EQ, static_cast<scmp_datum_t>(flag), static_cast<scmp_datum_t>(flag))});
        ok = ok && Add(ctx, refuse, "openat", {Arg(2, SCMP_CMP_MASKED_EQ, static_cast<scmp_datum_t>(flag), static_cast<scmp_datum_t>(flag))});
    }
    // Signals to itself only.
    const auto self = static_cast<scmp_datum_t>(::getpid());
    for (const char* name : {"kill", "tgkill", "rt_sigqueueinfo", "rt_tgsigqueueinfo"})
        ok = ok && Add(ctx, refuse, name, {Arg(0, SCMP_CMP_NE, self)});
    // Limits of its own only.
    ok = ok && Add(ctx, refuse, "prlimit64", {Arg(0, SCMP_CMP_NE, 0)});
    // No typing into the terminal it was started from.
    for (const unsigned long request : {static_cast<unsigned long>(TIOCSTI), static_cast<unsigned long>(TIOCLINUX)})
        ok = ok && Add(ctx, refuse, "ioctl", {Arg(1, SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request)});
    ok = ok && seccomp_load(ctx) == 0;
    seccomp_release(ctx);
    return ok;
}

int ThreadCount() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++count;
        ::closedir(d);
    }
    return count;
}

#ifdef TESSALY_LOCKIN_SANITIZED
// What the sanitizers read later: the leak checker its own process's /proc entries and its
// suppressions, the symbolizer the program's and libraries' files. The symbolizer, where it
// is a program of its own, is started now, as it cannot be afterwards.
std::vector<std::string> SanitizerReadable() {
#if defined(__clang__)
    // Clang's run time symbolizes in a program of its own (GCC's reads the files itself).
    char text[256];
    __sanitizer_symbolize_pc(__builtin_return_address(0), "%p %F %L", text, sizeof text);
#endif
    std::vector<std::string> files{"/proc"};
    // The leak checker reads its suppressions when it checks, at the end.
    for (const char* options : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char* value = std::getenv(options);
        const char* at = value ? std::strstr(value, "suppressions=") : nullptr;
        if (at) files.emplace_back(at + 13, std::strcspn(at + 13, ": "));
    }
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const size_t slash = line.find('/');
        if (slash != std::string::npos) files.push_back(line.substr(slash));
    }
    return files;
}
#endif

}  // namespace

LockInReport LockIn(const LockInRules& rules) {
    LockInReport report;
    report.threads = ThreadCount();
    std::vector<std::string> readable = rules.readable;
#ifdef TESSALY_LOCKIN_SANITIZED
    const std::vector<std::string> extra = SanitizerReadable();
    readable.insert(readable.end(), extra.begin(), extra.end());
#endif
    report.noNewPrivileges = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    report.landlockAbi = rules.landlock ? RestrictFiles(readable) : 0;
    report.seccomp = rules.seccomp && report.noNewPrivileges && Filter();
    std::string missing;
    if (!report.noNewPrivileges) missing += "; no-new-privileges refused";
    if (report.landlockAbi == 0) missing += "; no Landlock in this kernel: files stay readable and writable as the user's";
    if (!report.seccomp) missing += "; no seccomp filter in this kernel: every system call stays open";
    if (report.threads > 1 && report.landlockAbi > 0)
        missing += "; " + std::to_string(report.threads - 1) + " thread(s) started earlier are outside the Landlock rules";
    if (!missing.empty()) report.missing = missing.substr(2);
    return report;
}

// ---- the picture helper's part ----

namespace {

// The commonest pages of 8-bit metafile text, held open for the process's life so that their
// converter modules stay loaded; the others load from the converters' folder when needed.
constexpr const char* kCodePages[] = {"CP932", "CP1252"};

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// Lists of fontconfig's, asked of the copy Qt loaded (the helper does not link it itself).
using FcConfigGetCurrentFn = void* (*)();
using FcConfigGetDirsFn = void* (*)(void*);
using FcStrListNextFn = const char* (*)(void*);
using FcStrListDoneFn = void (*)(void*);

void FontconfigDirs(const char* lister, std::vector<std::string>& out) {
    auto current = reinterpret_cast<FcConfigGetCurrentFn>(::dlsym(RTLD_DEFAULT, "FcConfigGetCurrent"));
    auto list = reinterpret_cast<FcConfigGetDirsFn>(::dlsym(RTLD_DEFAULT, lister));
    auto next = reinterpret_cast<FcStrListNextFn>(::dlsym(RTLD_DEFAULT, "FcStrListNext"));
    auto done = reinterpret_cast<FcStrListDoneFn>(::dlsym(RTLD_DEFAULT, "FcStrListDone"));
    if (!current || !list || !next || !done) return;
    void* config = current();
    if (!config) return;
    void* dirs = list(config);
    if (!dirs) return;
    while (const char* dir = next(dirs))
        if (dir[0] == '/') out.emplace_back(dir);
    done(dirs);
}

// The folder of the loaded character-set converter modules, from this process's map.
std::string ConverterFolder() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const size_t at = line.find("/gconv/");
        const size_t slash = line.find('/');
        if (at != std::string::npos && slash != std::string::npos) return line.substr(slash, at + 6 - slash);
    }
    return std::string();
}

}  // namespace

void PrepareDecodersForLockIn() {
    // The icon reader is a plug-in, found and loaded on first use.
    for (const char* format : {"bmp", "ico"}) {
        QImage one(2, 2, QImage::Format_ARGB32);
        one.fill(Qt::white);
        QByteArray bytes;
        QBuffer out(&bytes);
        out.open(QIODevice::WriteOnly);
        one.save(&out, format);
        QBuffer in(&bytes);
        QImageReader(&in, format).read();
    }
    // The font database, from fontconfig's configuration, which is not readable afterwards.
    // The fonts themselves are read from their folders when a metafile first asks for one.
    (void)QFontDatabase::families();
    // Plain storage without a destructor: still held when the leak checker looks at the end.
    [[maybe_unused]] static iconv_t held[std::size(kCodePages)];
    static bool opened = false;
    for (size_t i = 0; !opened && i < std::size(kCodePages); ++i) held[i] = ::iconv_open("UTF-16LE", kCodePages[i]);
    opened = true;
}

std::vector<std::string> PictureReadableFolders() {
    std::vector<std::string> folders;
    FontconfigDirs("FcConfigGetFontDirs", folders);
    FontconfigDirs("FcConfigGetCacheDirs", folders);
    if (folders.empty()) {
        // No fontconfig to ask: its usual places.
        const std::string home = Env("HOME");
        const std::string data = Env("XDG_DATA_HOME").empty() ? home + "/.local/share" : Env("XDG_DATA_HOME");
        const std::string cache = Env("XDG_CACHE_HOME").empty() ? home + "/.cache" : Env("XDG_CACHE_HOME");
        folders = {"/usr/share/fonts", "/usr/local/share/fonts", data + "/fonts", home + "/.fonts", "/var/cache/fontconfig",
                   cache + "/fontconfig"};
    }
    const std::string converters = ConverterFolder();
    if (!converters.empty()) folders.push_back(converters);
    // One rule for a folder covers all beneath it.
    std::sort(folders.begin(), folders.end());
    std::vector<std::string> kept;
    for (const std::string& f : folders)
        if (kept.empty() || !(f.rfind(kept.back() + "/", 0) == 0 || f == kept.back())) kept.push_back(f);
    return kept;
}

LockInReport LockInForPictures() {
    PrepareDecodersForLockIn();
    return LockIn(LockInRules{PictureReadableFolders()});
}

}  // namespace platform
