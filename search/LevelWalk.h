#pragma once
// The full search's walk of the drives, level by level: all roots, then every folder one
// level below them, and so on. Plain C++; what the user sees goes through the sink.
#include <string>
#include <string_view>
#include <vector>

#include "platform/Drives.h"
#include "platform/PathList.h"

namespace search {

using platform::PathList;

// What the walk reports, in the order the user sees it.
class WalkSink {
public:
    virtual ~WalkSink() = default;
    // A pass over the `folders` folders of the present level begins.
    virtual void BeginMatchesPass(int folders) = 0;
    // Folder `index` of the matches pass (its path, ending with the separator).
    virtual void MatchesFolder(int index, std::string_view folder) = 0;
    // One match: the full path of a file.
    virtual void Match(std::string_view path) = 0;
    virtual void EndMatchesPass() = 0;
    virtual void BeginSubfolderPass(int folders) = 0;
    virtual void SubfolderFolder(int index, std::string_view folder) = 0;
    // `entries` entries of the folder have been looked at.
    virtual void SubfolderEntries(int entries) = 0;
    // True when the walk is to stop.
    virtual bool Cancelled() = 0;
};

enum class WalkEnd { Completed, Interrupted };

// Levels searched at most, the roots included.
inline constexpr int kMaxLevels = 17;

// Walks from `roots` (each ending with the separator), listing the plain files that match
// `mask` level by level, and folder by folder in the order they were found. Only names
// without a "." are walked into: a folder with a dot in its name is not entered, and a
// plain file without one is taken along like a folder (reading it later gives nothing).
// Names holding CR, LF or code 26 are passed over: no stored list could hold them.
// Ends as interrupted when folders remain below the deepest level or the sink cancels.
//
// Each folder is read once: its matches and its walkable names are both taken from that
// one read, and the subfolder pass is then replayed from what was kept.
WalkEnd WalkLevels(const std::vector<std::string>& roots, std::string_view mask, platform::Drives& drives,
                   WalkSink& sink, int maxLevels = kMaxLevels);

}  // namespace search
