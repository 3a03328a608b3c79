#include "platform/Services.h"

namespace platform {

Services& Current() {
    static Services services;
    if (!services.boxes) services.boxes = std::make_unique<QtMessageBoxes>();
    if (!services.desktop) services.desktop = std::make_unique<QtDesktop>();
    if (!services.registry)
        services.registry = std::make_unique<FileRegistry>(FileRegistry::ForCurrentUser("tessaly"));
    return services;
}

void InstallSystemServices(const std::string& programPath) {
    Services& s = Current();
    s.boxes = std::make_unique<QtMessageBoxes>();
    s.desktop = std::make_unique<QtDesktop>();
    s.registry = std::make_unique<FileRegistry>(FileRegistry::ForCurrentUser(programPath));
}

}  // namespace platform
