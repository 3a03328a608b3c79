#pragma once
// The platform services in use: the real ones in the program, fakes in tests.
#include <memory>

#include "platform/Desktop.h"
#include "platform/MessageBoxes.h"
#include "platform/Registry.h"

namespace platform {

struct Services {
    std::unique_ptr<MessageBoxes> boxes;
    std::unique_ptr<RegistryStore> registry;
    std::unique_ptr<Desktop> desktop;
};

// The services every handler calls; filled with the real implementations unless set.
Services& Current();
// Installs the real services for the running program.
void InstallSystemServices(const std::string& programPath);

}  // namespace platform
