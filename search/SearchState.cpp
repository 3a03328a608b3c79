#include "search/SearchState.h"

namespace search {

bool SearchState::IdleTick(bool allowed, bool key, QPoint cursor, int threshold) {
    if (allowed && !key && cursor == lastCursorPos) {
        ++idleSeconds;
        if (threshold < idleSeconds) {
            idleSearchActive = 1;
            // Keeps counting from overflowing while staying past the threshold.
            if (idleSeconds > 999999) idleSeconds = threshold + 1;
        }
        return true;
    }
    idleSearchActive = 0;
    idleSeconds = 0;
    // A held key says nothing of the cursor, which was not asked.
    if (!key) lastCursorPos = cursor;
    return false;
}

}  // namespace search
