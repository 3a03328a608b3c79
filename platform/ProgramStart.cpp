#include "platform/ProgramStart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool EndsWithExe(const std::string& s) {
    return s.size() >= 4 && StartsWithNoCase(s.substr(s.size() - 4), ".exe");
}

// A name from the root of the current drive: on Linux, from the root of the file system.
std::string Rooted(std::string s) {
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

std::vector<std::string> SplitSpaces(const std::string& s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        size_t j = i;
        while (j < s.size() && s[j] != ' ') ++j;
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

// A file name handed to another program must never read as one of its options.
std::string NotAnOption(const std::string& file) { return !file.empty() && file[0] == '-' ? "./" + file : file; }

std::optional<ProgramCall> FirstFound(const std::vector<std::vector<std::string>>& candidates,
                                      const std::string& file, const ProgramLookup& lookup) {
    for (const auto& c : candidates) {
        std::string found = lookup(c[0]);
        if (found.empty()) continue;
        ProgramCall call{found, {c.begin() + 1, c.end()}};
        if (!file.empty()) call.arguments.push_back(NotAnOption(file));
        return call;
    }
    return std::nullopt;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && StartsWithNoCase(s.substr(s.size() - suffix.size()), suffix);
}

}  // namespace

std::optional<ProgramCall> MapCommandLine(const std::string& commandLine, const ProgramLookup& lookup) {
    // The well-known Windows programs of the launch table, by the Linux programs that serve
    // the same purpose; the rest of the line is the file, spaces and all.
    std::vector<std::vector<std::string>> editor = {
        {"gnome-text-editor"}, {"gedit"}, {"mousepad"}, {"kate"}, {"pluma"}, {"xed"}, {"xdg-open"}};
    // The desktop's opener may hand a batch file to wine, which would run it: batch files
    // go to a text editor or nowhere.
    if (EndsWithNoCase(commandLine, ".bat")) editor.pop_back();
    const std::vector<std::vector<std::string>> calc = {{"libreoffice", "--calc"}, {"soffice", "--calc"}};
    const std::vector<std::vector<std::string>> writer = {{"libreoffice", "--writer"}, {"soffice", "--writer"}};
    const std::vector<std::vector<std::string>> opener = {{"xdg-open"}};
    const struct {
        const char* windows;
        const std::vector<std::vector<std::string>>* linux;
    } known[] = {
        {"NOTEPAD.EXE", &editor},
        {"\\Program Files\\Microsoft Office\\Office\\EXCEL.EXE", &calc},
        {"\\Program Files\\Microsoft Office\\Office\\WinWORD.EXE", &writer},
        {"\\Program Files\\Accessories\\wordpad.EXE", &opener},
        {"\\Program Files\\Internet Explorer\\IEXPLORE.EXE", &opener},
    };
    for (const auto& k : known) {
        const std::string prefix = k.windows;
        if (!StartsWithNoCase(commandLine, prefix)) continue;
        if (commandLine.size() == prefix.size()) return FirstFound(*k.linux, std::string(), lookup);
        if (commandLine[prefix.size()] != ' ') continue;
        return FirstFound(*k.linux, commandLine.substr(prefix.size() + 1), lookup);
    }

    // Any other line: the program is the shortest start that names an ".exe" (Windows
    // resolves unquoted names with spaces the same way), else the first word.
    // A whole line that names an existing program file is that program, spaces and all: the
    // confirmed file runs, not another one whose name is a prefix of its path.
    if (EndsWithExe(commandLine) && commandLine[0] != '\\') {
        const std::string whole = lookup(commandLine);
        const std::string wine = whole.empty() ? std::string() : lookup("wine");
        if (!whole.empty()) {
            if (wine.empty()) return std::nullopt;
            return ProgramCall{wine, {NotAnOption(whole)}};
        }
    }
    std::string program;
    std::string rest;
    for (size_t i = 4; i <= commandLine.size(); ++i) {
        if ((i == commandLine.size() || commandLine[i] == ' ') && EndsWithExe(commandLine.substr(0, i))) {
            program = commandLine.substr(0, i);
            rest = i < commandLine.size() ? commandLine.substr(i + 1) : std::string();
            break;
        }
    }
    if (program.empty()) {
        size_t sp = commandLine.find(' ');
        program = commandLine.substr(0, sp);
        rest = sp == std::string::npos ? std::string() : commandLine.substr(sp + 1);
    }
    if (program.empty()) return std::nullopt;
    std::vector<std::string> args;
    for (const std::string& a : SplitSpaces(rest)) args.push_back(a[0] == '\\' ? Rooted(a) : a);
    const std::string path = Rooted(program);
    const std::string found = lookup(path);
    if (found.empty()) return std::nullopt;
    if (EndsWithExe(path)) {
        // A Windows program runs through wine when it is installed.
        const std::string wine = lookup("wine");
        if (wine.empty()) return std::nullopt;
        args.insert(args.begin(), found);
        return ProgramCall{wine, args};
    }
    return ProgramCall{found, args};
}

std::string FindProgram(const std::string& nameOrPath) {
    struct stat st {};
    if (nameOrPath.find('/') != std::string::npos)
        return ::stat(nameOrPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? nameOrPath : std::string();
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            std::string candidate = dir + "/" + nameOrPath;
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

bool StartDetached(const ProgramCall& call) {
    // Everything the children need is made before the fork: after it only system calls.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(call.program.c_str()));
    for (const std::string& a : call.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The program gets its arguments byte for byte (names need not be UTF-8) and no shell
    // ever sees them. The middle child ends at once, so nothing is left to reap; the pipe
    // tells whether the program could be executed.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    const pid_t middle = ::fork();
    if (middle < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (middle == 0) {
        ::setsid();
        const pid_t program = ::fork();
        if (program == 0) {
            ::execv(argv[0], argv.data());
            const int err = errno;
            (void)!::write(report[1], &err, sizeof err);
            ::_exit(127);
        }
        if (program < 0) {
            const int err = errno;
            (void)!::write(report[1], &err, sizeof err);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    while ((n = ::read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    return n == 0;
}

unsigned LinuxProgramStarter::WinExec(const std::string& commandLine, int) {
    std::optional<ProgramCall> call = MapCommandLine(commandLine, FindProgram);
    if (!call) return 2;  // file not found
    return StartDetached(*call) ? 33 : 2;
}

}  // namespace platform
