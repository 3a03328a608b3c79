#include "platform/Finder.h"

#include "platform/Services.h"

namespace platform {

namespace {

inline char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

FileMask::FileMask(std::string_view mask) {
    lower_.reserve(mask.size());
    for (char c : mask) lower_ += Lower(c);
    all_ = lower_ == "*" || lower_ == "*.*";
    suffixOnly_ = !lower_.empty() && lower_[0] == '*' && lower_.find_first_of("*?", 1) == std::string::npos;
}

bool FileMask::Matches(std::string_view name) const {
    if (all_) return true;
    if (suffixOnly_) {
        const size_t tail = lower_.size() - 1;
        if (name.size() < tail) return false;
        const char* n = name.data() + (name.size() - tail);
        for (size_t i = 0; i < tail; ++i)
            if (Lower(n[i]) != lower_[i + 1]) return false;
        return true;
    }
    // Wildcard match that backtracks only to the last "*" seen: linear in practice.
    size_t m = 0, n = 0, starM = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (m < lower_.size() && (lower_[m] == '?' || lower_[m] == Lower(name[n]))) {
            ++m;
            ++n;
        } else if (m < lower_.size() && lower_[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < lower_.size() && lower_[m] == '*') ++m;
    return m == lower_.size();
}

bool Find(const std::string& folder, std::string_view mask, FindWhat what, const FolderEntryFn& onEntry) {
    const FileMask m(mask);
    return Current().drives->ReadFolder(folder, [&](std::string_view name, EntryType type) {
        if (type == EntryType::Folder && what == FindWhat::Files) return;
        if (m.Matches(name)) onEntry(name, type);
    });
}

}  // namespace platform
