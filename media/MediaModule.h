#pragma once
// The media device as the program holds it: the GStreamer device lives in a module of its
// own (tessaly-media.so beside the picture helper), loaded with the first media open, so
// that a start that plays nothing maps none of the media framework.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Media.h"

namespace platform {

// The module's file name, and the names of its entry points.
inline constexpr const char* kMediaModuleName = "tessaly-media.so";
inline constexpr const char* kMediaCreateEntry = "tessaly_media_create";
inline constexpr const char* kMediaVolumeEntry = "tessaly_media_set_volume";

// How the module's device sends its sound and pictures.
enum class MediaOutputs : int {
    System = 0,  // the sound output and the device's own video window
    Null = 1,    // null sinks for both (tests, benchmarks)
};

// Where the module is: beside the running program (the build tree), else in the libexec
// folder found from the program's own folder, else the configured one. Empty when none is there.
std::string MediaModulePath();

// The device behind the player control. The first open loads the module and makes the
// real device; a module that is missing or does not load fails that open as an unreadable
// medium would (EMCIDeviceError, the reason on standard error) and is tried again at the
// next open.
class ModuleMediaDevice : public MediaDevice {
public:
    // An empty path: MediaModulePath() at the first open.
    explicit ModuleMediaDevice(std::string modulePath = {}, MediaOutputs outputs = MediaOutputs::System);
    ~ModuleMediaDevice() override;

    void Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    std::int64_t Position() override;
    std::int64_t Length() override;
    // Kept until the module's device exists, then handed to it.
    void KeepClearOf(QWidget* controls) override;

    // Whether the module has been loaded and the device made.
    bool Loaded() const { return device_ != nullptr; }
    // The module's device; nullptr until the first successful load.
    MediaDevice* Device() const { return device_.get(); }

private:
    void Load();

    std::string modulePath_;
    MediaOutputs outputs_;
    std::unique_ptr<MediaDevice> device_;
    QWidget* keepClear_ = nullptr;
};

// The process's wave-out volume while the module may not be loaded yet: the value is kept
// here and handed to the module's players as soon as it is loaded, and at every change after.
class ModuleWaveOut : public WaveOut {
public:
    void SetVolume(std::uint32_t value) override;
    std::uint32_t Volume() const override;
};

}  // namespace platform
