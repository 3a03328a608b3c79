#include "media/MediaModule.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <exception>

#include "platform/Libexec.h"

namespace platform {

namespace {

using CreateDevice = MediaDevice* (*)(int outputs);
using VolumeSetter = void (*)(std::uint32_t value);

// The volume the user set, kept for a module that is loaded later; and the module's setter
// once one is loaded. A loaded module stays for the rest of the process: the framework's
// threads and types cannot be taken out of it again.
std::atomic<std::uint32_t> g_volume{0xFFFFFFFFu};
std::atomic<VolumeSetter> g_moduleVolume{nullptr};

[[noreturn]] void FailLoad(const std::string& why) {
    std::fprintf(stderr, "tessaly: the media module cannot be used: %s\n", why.c_str());
    std::fflush(stderr);
    throw EMCIDeviceError("the media module cannot be used: " + why);
}

}  // namespace

std::string MediaModulePath() { return LibexecFile(kMediaModuleName, false); }

ModuleMediaDevice::ModuleMediaDevice(std::string modulePath, MediaOutputs outputs)
    : modulePath_(std::move(modulePath)), outputs_(outputs) {}

ModuleMediaDevice::~ModuleMediaDevice() = default;

void ModuleMediaDevice::Load() {
    const std::string path = modulePath_.empty() ? MediaModulePath() : modulePath_;
    if (path.empty()) FailLoad(std::string(kMediaModuleName) + " is neither beside the program nor installed");
    // Local: the module's copies of our helpers stay its own. Now: a missing symbol fails
    // here, not in the middle of playing.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        FailLoad(why ? why : path);
    }
    auto create = reinterpret_cast<CreateDevice>(::dlsym(handle, kMediaCreateEntry));
    auto volume = reinterpret_cast<VolumeSetter>(::dlsym(handle, kMediaVolumeEntry));
    if (!create || !volume) {
        ::dlclose(handle);
        FailLoad(path + ": not a media module of this program");
    }
    volume(g_volume.load());
    g_moduleVolume.store(volume);
    device_.reset(create(static_cast<int>(outputs_)));
    if (!device_) FailLoad(path + ": no device");
    device_->KeepClearOf(keepClear_);
}

void ModuleMediaDevice::KeepClearOf(QWidget* controls) {
    keepClear_ = controls;
    if (device_) device_->KeepClearOf(controls);
}

void ModuleMediaDevice::Open(const std::string& path) {
    if (!device_) Load();
    try {
        device_->Open(path);
    } catch (const EMCIDeviceError&) {
        throw;
    } catch (const std::exception& e) {
        // Whatever the module's device raises, the player sees a medium that did not open.
        throw EMCIDeviceError(e.what());
    }
}

void ModuleMediaDevice::Close() {
    if (device_) device_->Close();
}

bool ModuleMediaDevice::IsOpen() const { return device_ && device_->IsOpen(); }

void ModuleMediaDevice::Play() {
    if (device_) device_->Play();
}

void ModuleMediaDevice::Pause() {
    if (device_) device_->Pause();
}

void ModuleMediaDevice::Stop() {
    if (device_) device_->Stop();
}

std::int64_t ModuleMediaDevice::Position() { return device_ ? device_->Position() : 0; }

std::int64_t ModuleMediaDevice::Length() { return device_ ? device_->Length() : 0; }

void ModuleWaveOut::SetVolume(std::uint32_t value) {
    g_volume.store(value);
    if (VolumeSetter setter = g_moduleVolume.load()) setter(value);
}

std::uint32_t ModuleWaveOut::Volume() const { return g_volume.load(); }

}  // namespace platform
