#pragma once
// Reading the folders of a walk level ahead of the walk with a few helper threads. The
// walk still takes every folder in its order on its own thread; a folder is handed over
// only when it provably still holds what was read, else it is read again at its turn.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Drives.h"

namespace platform {

// Reads a folder by the rules of Drives::ReadFolder and stamps it. Called on helper threads.
using StampedReadFn = std::function<bool(const std::string& folder, const FolderEntryFn& onEntry, FolderStamp* stamp)>;
// The plain read of a folder at its turn, on the walk's thread.
using InTurnReadFn = std::function<bool(const std::string& folder, const FolderEntryFn& onEntry)>;

class ReadAheadLevel : public LevelReader {
public:
    ReadAheadLevel(const PathList& folders, const ReadAheadOptions& options, StampedReadFn ahead, InTurnReadFn inTurn,
                   ReadAheadCounts& counts);
    // Stops the helpers and waits for them: none outlives the level.
    ~ReadAheadLevel() override;
    ReadAheadLevel(const ReadAheadLevel&) = delete;
    ReadAheadLevel& operator=(const ReadAheadLevel&) = delete;

    bool Read(int index, const FolderEntryFn& onEntry) override;

private:
    enum class SlotState { Empty, Reading, Done };
    struct Slot {
        SlotState state = SlotState::Empty;
        bool ok = false, whole = false;
        FolderStamp stamp;
        // Per entry: one type byte, the name, a zero byte.
        std::string entries;
    };
    void Help();
    bool MayClaim() const;
    // Called with the lock held after the walk moved on.
    bool HelpersWanted() const;
    bool InTurn(int index, const FolderEntryFn& onEntry);

    const PathList& folders_;
    const ReadAheadOptions& options_;
    StampedReadFn ahead_;
    InTurnReadFn inTurn_;
    ReadAheadCounts& counts_;
    const int window_;

    std::mutex mutex_;
    // Helpers wait for room ahead; the walk waits for the folder at its turn. Each side is
    // woken only when the other has something for it, and helpers only once a quarter of
    // the window is free again: a wake-up per folder would cost more than a warm read.
    std::condition_variable room_, ready_;
    int helpersWaiting_ = 0;
    int walkWaitsFor_ = -1;
    std::vector<Slot> ring_;
    // The next folder nobody has claimed; the folder the walk is at; bytes held.
    int next_ = 0;
    int at_ = 0;
    size_t bytes_ = 0;
    bool stop_ = false;
    std::vector<std::thread> helpers_;
    std::string path_;
};

}  // namespace platform
