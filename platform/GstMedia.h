#pragma once
// The media device over GStreamer's playbin, and the process-wide wave-out volume that its
// audio filter applies per channel.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Media.h"

typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;

namespace platform {

// The one volume value of the process: left level in the low 16 bits, right in the high 16.
// Every player reads it for every block of samples, so a change is heard at once and holds
// for the files opened later.
std::uint32_t ProcessVolume();
void SetProcessVolume(std::uint32_t value);

class GstWaveOut : public WaveOut {
public:
    void SetVolume(std::uint32_t value) override { SetProcessVolume(value); }
    std::uint32_t Volume() const override { return ProcessVolume(); }
};

class GstMediaDevice : public MediaDevice {
public:
    struct Options {
        enum class Sink { Auto, Null };
        // Auto: the sound device when one answers, else the null sink.
        Sink audio = Sink::Auto;
        // Auto: a window of its own when there is an X display, else the null sink.
        Sink video = Sink::Auto;
        // Called on a streaming thread with each block of interleaved stereo float samples
        // that reaches the null audio sink (tests measure the levels with it).
        std::function<void(const float* samples, std::size_t frames)> audioTap;
        // Longest wait for a medium to be ready to play.
        int openTimeoutMs = 5000;
    };

    GstMediaDevice();
    explicit GstMediaDevice(Options options);
    ~GstMediaDevice() override;
    GstMediaDevice(const GstMediaDevice&) = delete;
    GstMediaDevice& operator=(const GstMediaDevice&) = delete;

    void Open(const std::string& path) override;
    void Close() override;
    bool IsOpen() const override { return pipeline_ != nullptr; }
    void Play() override;
    void Pause() override;
    void Stop() override;
    std::int64_t Position() override;
    std::int64_t Length() override;

    // True once the open medium has played to its end (or failed while playing).
    bool AtEnd() const { return atEnd_; }
    // True while playback runs.
    bool Playing() const { return playing_; }
    // Whether audio goes to the null sink.
    bool NullAudio() const { return nullAudio_; }

    // True when a sound device answers (checked once per process).
    static bool SoundDeviceAvailable();

private:
    static int OnBusMessage(GstBus* bus, GstMessage* message, void* self);
    void HandleBusMessage(GstMessage* message);
    GstElement* MakeAudioFilter();
    GstElement* MakeAudioSink();
    GstElement* MakeVideoSink();
    [[noreturn]] void FailOpen(const std::string& why);

    Options options_;
    GstElement* pipeline_ = nullptr;
    unsigned busWatch_ = 0;
    bool atEnd_ = false;
    bool playing_ = false;
    bool nullAudio_ = false;
    std::int64_t length_ = 0;
    std::int64_t startOffset_ = 0;
    std::string path_;
};

}  // namespace platform
