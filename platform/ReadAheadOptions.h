#pragma once
// How the folders of a walk level are read ahead of the walk, and what that did.
#include <chrono>
#include <cstddef>
#include <functional>
#include <thread>

namespace platform {

struct ReadAheadOptions {
    // Helper threads per level; 0 reads every folder at its turn.
    int threads = 6;
    // Folders read ahead of the one the walk is at, at most.
    int window = 256;
    // Entry bytes held for folders not yet taken, at most; a helper waits past it.
    size_t windowBytes = 4u << 20;
    // A folder with more entry bytes than this is not held: it is read again at its turn
    // (from the warmed cache).
    size_t folderBytes = 1u << 20;
    // A folder changed less than this before it was read ahead is read again at its turn:
    // a change right after the read could leave its times as they were, as far as the
    // file system's clock can tell.
    std::chrono::nanoseconds settled = std::chrono::milliseconds(100);
    // Starts a helper; a thread that is not joinable means it could not start. Empty: std::thread.
    std::function<std::thread(std::function<void()>)> startThread;
    // Called on a helper thread after it has read the folder of that index of the level.
    std::function<void(int index)> onReadAhead;
};

struct ReadAheadCounts {
    int helpersStarted = 0;
    int helpersFailed = 0;
    // Folders whose entries came from the read ahead, and folders read at their turn.
    long handedOver = 0;
    long readInTurn = 0;
    // Of those read at their turn: no helper had got to them; the helper's read failed
    // (a file without a dot is taken along like a folder and fails so); the folder could
    // not be vouched for (changed, gone, too fresh, too long, another kind of file system).
    long notReached = 0, failedAhead = 0, notVouched = 0;
    // The most folders held or being read ahead of the walk at once, and their entry bytes.
    int mostAhead = 0;
    size_t mostBytes = 0;
};

}  // namespace platform
