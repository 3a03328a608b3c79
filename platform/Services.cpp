#include "platform/Services.h"

#include "platform/GstMedia.h"
#include "platform/ProgramStart.h"
#include "platform/QtPrinting.h"

namespace platform {

namespace {

// Fills every empty slot with the real service.
void FillSystemServices(Services& s, const std::string& programPath) {
    if (!s.boxes) s.boxes = std::make_unique<QtMessageBoxes>();
    if (!s.desktop) s.desktop = std::make_unique<QtDesktop>();
    if (!s.drives) s.drives = std::make_unique<LinuxDrives>();
    if (!s.keys) s.keys = MakeDeferredSystemKeyState();
    if (!s.registry) s.registry = std::make_unique<FileRegistry>(FileRegistry::ForCurrentUser(programPath));
    if (!s.media) s.media = std::make_unique<GstMediaDevice>();
    if (!s.waveOut) s.waveOut = std::make_unique<GstWaveOut>();
    if (!s.programs) s.programs = std::make_unique<LinuxProgramStarter>();
    if (!s.printing) s.printing = std::make_unique<QtPrinting>();
}

}  // namespace

Services& Current() {
    static Services services;
    FillSystemServices(services, "tessaly");
    return services;
}

void InstallSystemServices(const std::string& programPath) {
    Services& s = Current();
    s = Services{};
    FillSystemServices(s, programPath);
}

}  // namespace platform
