// The full search's and idle check's state without the window.
#include <gtest/gtest.h>

#include <stdexcept>

#include "search/SearchState.h"

namespace {

TEST(SearchState, StillSecondsArmPastTheThresholdAndStayBounded) {
    search::SearchState s;
    const QPoint at(10, 20);
    EXPECT_FALSE(s.IdleTick(true, false, at, 2));  // the first sight of the cursor starts the count
    for (int i = 1; i <= 2; ++i) {
        EXPECT_TRUE(s.IdleTick(true, false, at, 2));
        EXPECT_EQ(s.idleSeconds, i);
        EXPECT_EQ(s.idleSearchActive, 0);  // not past the threshold yet
    }
    EXPECT_TRUE(s.IdleTick(true, false, at, 2));
    EXPECT_EQ(s.idleSearchActive, 1);
    // Days of stillness neither overflow nor disarm.
    s.idleSeconds = 1000000;
    EXPECT_TRUE(s.IdleTick(true, false, at, 2));
    EXPECT_EQ(s.idleSeconds, 3);
    EXPECT_EQ(s.idleSearchActive, 1);
}

TEST(SearchState, ActivityOrNoPermissionStartsTheCountAgain) {
    search::SearchState s;
    s.lastCursorPos = QPoint(1, 1);
    auto armed = [&] {
        s.idleSeconds = 50;
        s.idleSearchActive = 1;
    };
    armed();
    EXPECT_FALSE(s.IdleTick(true, false, QPoint(2, 1), 10));  // the cursor moved
    EXPECT_EQ(s.idleSeconds, 0);
    EXPECT_EQ(s.idleSearchActive, 0);
    EXPECT_EQ(s.lastCursorPos, QPoint(2, 1));
    armed();
    // A held key: the cursor was not asked, so the one seen before stays.
    EXPECT_FALSE(s.IdleTick(true, true, QPoint(), 10));
    EXPECT_EQ(s.idleSearchActive, 0);
    EXPECT_EQ(s.lastCursorPos, QPoint(2, 1));
    armed();
    EXPECT_FALSE(s.IdleTick(false, false, QPoint(2, 1), 10));
    EXPECT_EQ(s.idleSeconds, 0);
    EXPECT_EQ(s.idleSearchActive, 0);
}

TEST(SearchState, FullSearchCountsNestedCallsAndEndsOnAThrow) {
    search::SearchState s;
    EXPECT_FALSE(s.FullSearchRunning());
    try {
        auto outer = s.FullSearch();
        {
            auto inner = s.FullSearch();
            EXPECT_TRUE(s.FullSearchRunning());
        }
        EXPECT_TRUE(s.FullSearchRunning());  // the outer one still waits
        throw std::runtime_error("disk gone");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(s.FullSearchRunning());
}

}  // namespace
