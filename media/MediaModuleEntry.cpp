// The entry points of the media module: the program finds them with dlsym after loading
// the module on its first media open.
#include <cstdint>
#include <new>

#include "media/GstMedia.h"
#include "media/MediaModule.h"

#define TESSALY_MEDIA_ENTRY extern "C" __attribute__((visibility("default")))

// Declared only here: the program finds them by name, never by linking against them.
extern "C" {
platform::MediaDevice* tessaly_media_create(int outputs);
void tessaly_media_set_volume(std::uint32_t value);
std::uint32_t tessaly_media_volume();
}

// A new device, owned by the caller (deleted through MediaDevice's virtual destructor, which
// runs the module's own code). `outputs` is a platform::MediaOutputs value.
TESSALY_MEDIA_ENTRY platform::MediaDevice* tessaly_media_create(int outputs) {
    platform::GstMediaDevice::Options options;
    if (outputs == static_cast<int>(platform::MediaOutputs::Null)) {
        options.audio = platform::GstMediaDevice::Options::Sink::Null;
        options.video = platform::GstMediaDevice::Options::Sink::Null;
    }
    return new (std::nothrow) platform::GstMediaDevice(std::move(options));
}

// The process volume that the module's players apply (left low 16 bits, right high 16).
TESSALY_MEDIA_ENTRY void tessaly_media_set_volume(std::uint32_t value) { platform::SetProcessVolume(value); }

// The volume the module's players apply now.
TESSALY_MEDIA_ENTRY std::uint32_t tessaly_media_volume() { return platform::ProcessVolume(); }
