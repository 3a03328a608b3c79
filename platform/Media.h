#pragma once
// The media device behind the player control, and the process-wide wave-out volume.
#include <cstdint>
#include <string>

#include "platform/Exceptions.h"

class QWidget;

// The player control's failure to open a file: no device, unreadable or damaged medium.
class EMCIDeviceError : public Exception {
public:
    using Exception::Exception;
};

namespace platform {

class MediaDevice {
public:
    virtual ~MediaDevice() = default;
    // Closes any open medium, then opens `path` ready to play without playing it. Any
    // failure raises EMCIDeviceError and leaves no medium open.
    virtual void Open(const std::string& path) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Plays from the current position; a medium standing at its end starts from the start.
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    // Position and length in milliseconds; 0 when nothing is open.
    virtual std::int64_t Position() = 0;
    virtual std::int64_t Length() = 0;
    // The controls a video's window should not cover (the player's buttons); none by default.
    virtual void KeepClearOf(QWidget* controls) { (void)controls; }
};

// waveOutSetVolume on device 0: left level in the low 16 bits, right level in the high 16.
class WaveOut {
public:
    virtual ~WaveOut() = default;
    virtual void SetVolume(std::uint32_t value) = 0;
    virtual std::uint32_t Volume() const = 0;
};

}  // namespace platform
