#pragma once
// Locks a process in with the kernel's own means, for code that reads untrusted data and has
// nothing else to do: no new privileges, Landlock (no writing, creating or removing anywhere,
// reading only the folders named), and a seccomp filter under which every call such code
// has no use for fails with EPERM (no socket, no new program or process, no tracing, no
// signal to another process, no opening for writing, no mounting, no change of identity).
// Threads, memory mapping and sealed memory files stay allowed. Where the kernel lacks a
// part, the rest still holds and the report says what is missing.
//
// The libraries, plug-ins, fonts and character-set modules the code needs must be loaded
// before: afterwards nothing outside the named folders can be opened. Call it while the
// process has one thread; threads started later are locked in with it.
//
// Needs libseccomp: only the picture helper, its tests and fuzz target link this.
#include <string>
#include <vector>

namespace platform {

struct LockInRules {
    // Folders (with all beneath them) and single files that stay readable.
    std::vector<std::string> readable;
    // Both parts, but for tests that check each on its own.
    bool landlock = true;
    bool seccomp = true;
};

struct LockInReport {
    bool noNewPrivileges = false;
    int landlockAbi = 0;  // the kernel's Landlock version in force; 0: none
    bool seccomp = false;
    int threads = 0;      // threads the process had when it locked itself in
    // What the kernel did not offer, in one line for standard error; empty when all holds.
    std::string missing;
};

LockInReport LockIn(const LockInRules& rules);

// The picture helper's part: loads what decoding needs later (the image readers' plug-ins,
// the font database with the windows' fonts, the character-set converters of metafile
// text), then locks in with the font folders, the font caches and the converters' folder
// left readable. Call after the QGuiApplication exists.
LockInReport LockInForPictures();
// The folders LockInForPictures leaves readable (after the warm-up, which they depend on).
std::vector<std::string> PictureReadableFolders();
void PrepareDecodersForLockIn();

}  // namespace platform
