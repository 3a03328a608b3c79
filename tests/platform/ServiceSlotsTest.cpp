// The service slots: an empty one fails loudly and names itself, a filled one hands on.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Services.h"
#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/FakeDrives.h"
#include "tests/fakes/FakeKeyState.h"
#include "tests/fakes/FakeMedia.h"
#include "tests/fakes/FakeMessageBoxes.h"
#include "tests/fakes/FakePrinting.h"
#include "tests/fakes/FakeProgramStarter.h"

namespace {

struct SlotCase {
    const char* name;
    std::function<void(platform::Services&)> fill;
    std::function<void(platform::Services&)> use;
};

const SlotCase kSlots[] = {
    {"boxes", [](platform::Services& s) { s.boxes = std::make_unique<platform::FakeMessageBoxes>(); },
     [](platform::Services& s) { s.boxes->Show(platform::BoxKind::Error, QStringLiteral("x")); }},
    {"registry", nullptr, [](platform::Services& s) { (void)*s.registry; }},
    {"desktop", [](platform::Services& s) { s.desktop = std::make_unique<platform::FakeDesktop>(); },
     [](platform::Services& s) { s.desktop->ScreenSize(); }},
    {"drives", [](platform::Services& s) { s.drives = std::make_unique<platform::FakeDrives>(); },
     [](platform::Services& s) { s.drives->FixedDrives(); }},
    {"keys", [](platform::Services& s) { s.keys = std::make_unique<platform::FakeKeyState>(); },
     [](platform::Services& s) { s.keys->GetAsyncKeyState(0x41); }},
    {"media", [](platform::Services& s) { s.media = std::make_unique<platform::FakeMediaDevice>(); },
     [](platform::Services& s) { s.media->Play(); }},
    {"waveOut", [](platform::Services& s) { s.waveOut = std::make_unique<platform::FakeWaveOut>(); },
     [](platform::Services& s) { s.waveOut->SetVolume(0); }},
    {"programs", [](platform::Services& s) { s.programs = std::make_unique<platform::FakeProgramStarter>(); },
     [](platform::Services& s) { s.programs->WinExec("NOTEPAD.EXE", 5); }},
    {"printing", [](platform::Services& s) { s.printing = std::make_unique<platform::FakePrinting>(); },
     [](platform::Services& s) { s.printing->SetupDialog(nullptr); }},
};

TEST(ServiceSlots, AnEmptySlotAbortsNamingItAndAFilledOneServes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const SlotCase& c : kSlots) {
        SCOPED_TRACE(c.name);
        platform::Services s;
        EXPECT_FALSE(s.boxes || s.registry || s.desktop || s.drives || s.keys || s.media || s.waveOut ||
                     s.programs || s.printing);
        EXPECT_DEATH(c.use(s), std::string("platform service \"") + c.name + "\" was used before one was installed");
        if (!c.fill) continue;
        c.fill(s);
        c.use(s);
    }
}

TEST(ServiceSlots, MovingKeepsEachSlotItsNameAndLeavesTheSourceEmpty) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    platform::Services a;
    auto fake = std::make_unique<platform::FakeMediaDevice>();
    platform::FakeMediaDevice* device = fake.get();
    a.media = std::move(fake);
    platform::Services b = std::move(a);
    EXPECT_EQ(b.media.get(), device);
    EXPECT_EQ(a.media.get(), nullptr);
    EXPECT_STREQ(a.media.Name(), "media");
    // A service taken out to be put back later, as the fixtures do.
    std::unique_ptr<platform::MediaDevice> saved = std::move(b.media);
    EXPECT_EQ(saved.get(), device);
    EXPECT_FALSE(b.media);
    EXPECT_DEATH(b.media->Stop(), "\"media\"");
    b.media = std::move(saved);
    b.media->Play();
    EXPECT_EQ(device->calls, std::vector<std::string>{"play"});
    b.media = nullptr;
    EXPECT_DEATH(b.media->Stop(), "\"media\"");
}

}  // namespace
