#include "platform/Services.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void EmptyServiceSlot(const char* name) {
    std::fprintf(stderr, "tessaly: the platform service \"%s\" was used before one was installed\n", name);
    std::fflush(stderr);
    std::abort();
}

Services& Current() {
    static Services services;
    return services;
}

}  // namespace platform
