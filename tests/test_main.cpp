// Test entry: one offscreen GUI application for all tests, Japanese fonts mapped as at start-up.
#include <gtest/gtest.h>

#include "platform/Guard.h"
#include <cstdlib>

#include "platform/Fonts.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    platform::GuardedApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    return RUN_ALL_TESTS();
}
