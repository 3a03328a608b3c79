#pragma once
// The platform services in use: the real ones in the program, fakes in tests.
#include <memory>
#include <string>

#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "platform/Input.h"
#include "platform/Media.h"
#include "platform/MessageBoxes.h"
#include "platform/Printing.h"
#include "platform/Programs.h"
#include "platform/Registry.h"

namespace platform {

struct Services {
    std::unique_ptr<MessageBoxes> boxes;
    std::unique_ptr<RegistryStore> registry;
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<Drives> drives;
    std::unique_ptr<KeyState> keys;
    std::unique_ptr<MediaDevice> media;
    std::unique_ptr<WaveOut> waveOut;
    std::unique_ptr<ProgramStarter> programs;
    std::unique_ptr<Printing> printing;
};

// The services every handler calls; a slot left empty is filled with the real
// implementation on first use.
Services& Current();
// Installs the real services for the running program.
void InstallSystemServices(const std::string& programPath);

}  // namespace platform
