#include "search/LevelWalk.h"

#include "platform/Finder.h"

namespace search {

namespace {

// A stored list holds one path per line and ends at code 26: a name with a line break or
// that code would read back as other paths, or cut off every line after it. Such a name
// is neither listed nor walked into.
enum class NameKind { Unfit, Dotted, Dotless };

// One pass over the name for both questions; this runs for every entry of the walk.
NameKind Classify(std::string_view name) {
    bool dot = false;
    for (const char c : name) {
        if (c == '.')
            dot = true;
        else if (static_cast<unsigned char>(c) <= 0x1a && (c == '\r' || c == '\n' || c == '\x1a'))
            return NameKind::Unfit;
    }
    return dot ? NameKind::Dotted : NameKind::Dotless;
}

}  // namespace

WalkEnd WalkLevels(const std::vector<std::string>& roots, std::string_view mask, platform::Drives& drives,
                   WalkSink& sink, int maxLevels) {
    const platform::FileMask fileMask(mask);
    PathList current, next;
    for (const std::string& r : roots) current.Add(r);
    // Per folder of the level: how many entries its listing returned (the subfolder pass
    // repaints per entry).
    std::vector<int> entryCounts;
    std::string path;
    for (int level = 0; level < maxLevels; ++level) {
        next.Clear();
        entryCounts.clear();
        const int folders = current.Count();
        sink.BeginMatchesPass(folders);
        // Gone before the next level replaces the folders it reads.
        std::unique_ptr<platform::LevelReader> reader = drives.ReadLevel(current);
        for (int i = 0; i < folders; ++i) {
            const std::string_view folder = current.At(i);
            sink.MatchesFolder(i, folder);
            path.assign(folder);
            bool cancelled = false;
            int entries = 0;
            reader->Read(i, [&](std::string_view name, platform::EntryType type) {
                ++entries;
                const NameKind kind = Classify(name);
                if (kind == NameKind::Unfit) return;
                if (kind == NameKind::Dotless) next.Add(folder, name, "/");
                if (cancelled || type != platform::EntryType::File || !fileMask.Matches(name)) return;
                path.resize(folder.size());
                path.append(name);
                sink.Match(path);
                if (sink.Cancelled()) cancelled = true;
            });
            entryCounts.push_back(entries);
            if (cancelled || sink.Cancelled()) return WalkEnd::Interrupted;
        }
        reader.reset();
        sink.EndMatchesPass();
        sink.BeginSubfolderPass(folders);
        for (int i = 0; i < folders; ++i) {
            sink.SubfolderFolder(i, current.At(i));
            sink.SubfolderEntries(entryCounts[static_cast<size_t>(i)]);
            if (sink.Cancelled()) return WalkEnd::Interrupted;
        }
        if (next.Count() == 0) return WalkEnd::Completed;
        current.Swap(next);
    }
    return WalkEnd::Interrupted;
}

}  // namespace search
