#pragma once
// The media device behind the player control, and the process-wide wave-out volume.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Exceptions.h"

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
};

// A scripted device: opens whatever is not listed in `failing`, position and length are set
// by the test, every call is recorded.
class FakeMediaDevice : public MediaDevice {
public:
    void Open(const std::string& path) override {
        calls.push_back("open " + path);
        open = false;
        for (const auto& f : failing)
            if (f == path) throw EMCIDeviceError("cannot open " + path);
        open = true;
        file = path;
        position = 0;
        playing = false;
    }
    void Close() override {
        calls.push_back("close");
        open = false;
        playing = false;
    }
    bool IsOpen() const override { return open; }
    void Play() override {
        calls.push_back("play");
        if (open && length > 0 && position >= length) position = 0;
        playing = open;
    }
    void Pause() override {
        calls.push_back("pause");
        playing = false;
    }
    void Stop() override {
        calls.push_back("stop");
        playing = false;
    }
    std::int64_t Position() override { return open ? position : 0; }
    std::int64_t Length() override { return open ? length : 0; }

    std::vector<std::string> failing;
    std::vector<std::string> calls;
    std::string file;
    bool open = false;
    bool playing = false;
    std::int64_t position = 0;
    std::int64_t length = 10000;
};

// waveOutSetVolume on device 0: left level in the low 16 bits, right level in the high 16.
class WaveOut {
public:
    virtual ~WaveOut() = default;
    virtual void SetVolume(std::uint32_t value) = 0;
    virtual std::uint32_t Volume() const = 0;
};

class FakeWaveOut : public WaveOut {
public:
    void SetVolume(std::uint32_t value) override { values.push_back(value); }
    std::uint32_t Volume() const override { return values.empty() ? 0xFFFFFFFFu : values.back(); }
    std::vector<std::uint32_t> values;
};

}  // namespace platform
