#pragma once
// The stand-ins a benchmark runs the program's windows on: boxes that answer as told, no
// desktop, media device or keys of the real machine, and settings of its own in `work`, so
// that the user's autostart registration cannot move the figures.
#include <memory>
#include <string>

#include "platform/Services.h"
#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/FakeKeyState.h"
#include "tests/fakes/FakeMedia.h"
#include "tests/fakes/FakeMessageBoxes.h"

inline void InstallBenchServices(const std::string& work) {
    platform::Services& s = platform::Current();
    s.boxes = std::make_unique<platform::FakeMessageBoxes>();
    s.desktop = std::make_unique<platform::FakeDesktop>();
    s.media = std::make_unique<platform::FakeMediaDevice>();
    s.waveOut = std::make_unique<platform::FakeWaveOut>();
    s.keys = std::make_unique<platform::FakeKeyState>();
    s.registry = std::make_unique<platform::FileRegistry>(work + "/config", work + "/autostart", "tessaly");
}
