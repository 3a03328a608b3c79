#pragma once
// Test doubles of the media device and the wave-out volume.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Media.h"

namespace platform {

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

// Records every volume set; reads back the last one, full volume before any.
class FakeWaveOut : public WaveOut {
public:
    void SetVolume(std::uint32_t value) override { values.push_back(value); }
    std::uint32_t Volume() const override { return values.empty() ? 0xFFFFFFFFu : values.back(); }
    std::vector<std::uint32_t> values;
};

}  // namespace platform
