#include "search/ResultStore.h"

#include <algorithm>

#include "platform/Files.h"
#include "platform/SharedLog.h"

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
    // Several spellings may exist side by side: the first in a stable order.
    const std::string found = platform::FindNameIgnoringCase(dir, name);
    if (found.empty()) return exact;
    return dir.empty() ? found : platform::JoinPath(dir, found);
}

std::string StoredListPath(const std::string& workDir, const std::string& boxText) {
    return ResolveInFolder(workDir, StoredListName(boxText));
}

void WriteList(const std::string& path, int count, const std::function<std::string(int)>& line) {
    // Written beside the name and moved onto it when whole and on the disk: a list cut off by
    // a kill or a power cut would later pass for the whole result, silently missing files.
    try {
        platform::TextFileWriter out(path, platform::TextFileWriter::Mode::Replace);
        for (int i = 0; i < count; ++i) out.WriteLine(line(i));
        out.Close();
    } catch (...) {
        // No list at all rather than an older one: the next quick search searches the disks.
        platform::DeletePlainFile(path);
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
              const std::function<void(const std::string&)>& onLine, bool wholeLinesOnly) {
    if (!keyword) {
        platform::ReadTextLines(path, onLine, wholeLinesOnly);
        return;
    }
    const std::string lower = LowerAscii(*keyword);
    platform::ReadTextLines(
        path, [&](const std::string& line) {
            if (ContainsIgnoringAsciiCase(line, lower)) onLine(line);
        },
        wholeLinesOnly);
}

bool IsDownloadLog(const std::string& path) {
    auto slash = path.find_last_of(platform::kPathSeparator);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return LowerAscii(name) == LowerAscii(kDownloadLogName);
}

void AppendLine(const std::string& path, const std::string& line) { platform::AppendToSharedLog(path, line + "\r\n"); }

}  // namespace store
