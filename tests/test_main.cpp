// Test entry: one offscreen GUI application for all tests, Japanese fonts mapped as at start-up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FailureReports.h"
#include "platform/Fonts.h"
#include "platform/Guard.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's runtime folder goes into a folder of this run, not a shared one under /tmp.
    std::string runtimeDir;
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaly-tests-XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            runtimeDir = pattern;
            setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    int rc;
    {
        platform::GuardedApplication app(argc, argv);
        platform::InstallFontSubstitutes();
        InstallFailureReports();
        rc = RUN_ALL_TESTS();
    }
    if (!runtimeDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(runtimeDir, ec);
    }
    return rc;
}
