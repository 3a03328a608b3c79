#include "search/ResultStore.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/Files.h"

namespace store {

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string ExtensionOf(const std::string& text) {
    auto dot = text.find_last_of('.');
    if (dot == std::string::npos) return {};
    if (text.find_first_of("\\/:", dot + 1) != std::string::npos) return {};
    return text.substr(dot);
}

std::string StoredListName(const std::string& boxText) {
    return "SearchView" + UpperAscii(ExtensionOf(boxText));
}

std::string ResolveInFolder(const std::string& dir, const std::string& name) {
    std::string exact = dir.empty() ? name : platform::JoinPath(dir, name);
    if (platform::PathExists(exact)) return exact;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return exact;
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            // Several spellings may exist side by side; take the first in a stable order.
            if (found.empty() || found > e->d_name) found = e->d_name;
        }
    }
    ::closedir(d);
    if (found.empty()) return exact;
    return dir.empty() ? found : platform::JoinPath(dir, found);
}

std::string StoredListPath(const std::string& workDir, const std::string& boxText) {
    return ResolveInFolder(workDir, StoredListName(boxText));
}

void WriteList(const std::string& path, int count, const std::function<std::string(int)>& line) {
    platform::TextFileWriter out(path, platform::TextFileWriter::Mode::Rewrite);
    try {
        for (int i = 0; i < count; ++i) out.WriteLine(line(i));
        out.Close();
    } catch (...) {
        // A cut list would later pass for the whole result, its last line naming a file
        // nobody found. Without one, the next quick search searches the disks again.
        ::unlink(path.c_str());
        throw;
    }
}

bool ContainsIgnoringAsciiCase(const std::string& line, const std::string& lowerKeyword) {
    // An empty keyword is contained in nothing, so it selects no line.
    if (lowerKeyword.empty()) return false;
    auto it = std::search(line.begin(), line.end(), lowerKeyword.begin(), lowerKeyword.end(),
                          [](char a, char b) {
                              if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
                              return a == b;
                          });
    return it != line.end();
}

void ReadList(const std::string& path, const std::string* keyword,
              const std::function<void(const std::string&)>& onLine) {
    if (!keyword) {
        platform::ReadTextLines(path, onLine);
        return;
    }
    const std::string lower = LowerAscii(*keyword);
    platform::ReadTextLines(path, [&](const std::string& line) {
        if (ContainsIgnoringAsciiCase(line, lower)) onLine(line);
    });
}

void AppendLine(const std::string& path, const std::string& line) {
    platform::TextFileWriter out(path, platform::TextFileWriter::Mode::Append);
    struct stat before{};
    const bool known = ::stat(path.c_str(), &before) == 0;
    try {
        out.WriteLine(line);
        out.Close();
    } catch (...) {
        // Half a line would run into the next one appended; the file keeps whole lines.
        if (known) (void)::truncate(path.c_str(), before.st_size);
        throw;
    }
}

}  // namespace store
