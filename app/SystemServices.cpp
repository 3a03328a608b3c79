// The real services of the running program: the stand-ins of platform/ and the engines'
// devices, put into the platform slots at start.
#include "media/MediaModule.h"
#include "platform/ProgramStart.h"
#include "platform/QtPrinting.h"
#include "platform/Services.h"

namespace platform {

void InstallSystemServices(const std::string& programPath) {
    Services& s = Current();
    s = Services{};
    s.boxes = std::make_unique<QtMessageBoxes>();
    s.desktop = std::make_unique<QtDesktop>();
    s.drives = std::make_unique<LinuxDrives>();
    s.keys = MakeDeferredSystemKeyState();
    s.registry = std::make_unique<FileRegistry>(FileRegistry::ForCurrentUser(programPath));
    // The media framework is loaded by the first media open, not here.
    s.media = std::make_unique<ModuleMediaDevice>();
    s.waveOut = std::make_unique<ModuleWaveOut>();
    s.programs = std::make_unique<LinuxProgramStarter>();
    s.printing = std::make_unique<QtPrinting>();
}

}  // namespace platform
