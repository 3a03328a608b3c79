#pragma once
// The full search's and the idle check's state without their windows: how long the desktop
// has been still, whether the automatic search is armed and how far its sequence has come,
// the question limit, the cancel, and whether a full search is running. The main window
// shows each field under its own name; its timers and buttons act on it.
#include <QPoint>

#include "platform/DepthScope.h"

namespace search {

class SearchState {
public:
    // 1 while the desktop has been still past the threshold: the automatic search may run.
    int idleSearchActive = 0;
    // Matches after which a full search started by hand asks whether to go on (0: never).
    int searchLimit = 0;
    // 1 once the running full search is to stop at its next step.
    int searchCancelled = 0;
    // The next pattern of the automatic sequence.
    int autoSearchIndex = 0;
    // Seconds the desktop has been still, and the cursor position it was still at.
    int idleSeconds = 0;
    QPoint lastCursorPos;

    // One second of the idle check. `allowed` is the user's permission, `key` a watched key
    // held, `cursor` where the pointer is (asked only without a key), `threshold` the seconds
    // to wait. True while the desktop stays still; false when the count starts again.
    bool IdleTick(bool allowed, bool key, QPoint cursor, int threshold);

    // Counts a full search for as long as the scope lives: it may wait on its boxes and its
    // progress window, and the automatic step must not start a second one inside it.
    [[nodiscard]] platform::DepthScope FullSearch() { return platform::DepthScope(running_); }
    bool FullSearchRunning() const { return running_ > 0; }

private:
    int running_ = 0;
};

}  // namespace search
