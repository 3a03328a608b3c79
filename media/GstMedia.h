#pragma once
// The media device over GStreamer's playbin, and the process-wide wave-out volume that its
// audio filter applies per channel.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Media.h"

typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;

namespace platform {

class VideoWindow;
class FrameMailbox;

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
        // Auto: the first of `soundSinks` that answers at this open. When none answers
        // and none ever did for this device, the null sink (a machine without sound plays
        // silently); when one did before, the sound output is gone and the open fails.
        Sink audio = Sink::Auto;
        std::vector<std::string> soundSinks{"pulsesink", "alsasink"};
        // Longest wait for the sound output to answer at an open.
        int soundProbeMs = 2000;
        // Auto: the device's own window (any Qt platform) when the program has widgets,
        // else the null sink.
        Sink video = Sink::Auto;
        // Gain of the MIDI synthesiser: General MIDI files come out at about the level of
        // other music (a full arrangement peaks near −7 dBFS) instead of some 10 to 15 dB below.
        double midiGain = 0.4;
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
    void KeepClearOf(QWidget* controls) override;

    // True once the open medium has played to its end (or failed while playing).
    bool AtEnd() const { return atEnd_; }
    // True while playback runs.
    bool Playing() const { return playing_; }
    // Whether audio goes to the null sink because the machine never had any sound output.
    bool NullAudio() const { return nullAudio_; }
    // True while the sound output that played this device is gone: the medium keeps its
    // position and the next Play looks for the output again.
    bool SoundLost() const { return outputLost_; }
    // The device's own video window; nullptr until a medium with a picture was opened.
    VideoWindow* Window() const { return window_; }

    // True when a sound device answers now.
    static bool SoundDeviceAvailable();

private:
    static int OnBusMessage(GstBus* bus, GstMessage* message, void* self);
    void HandleBusMessage(GstMessage* message);
    GstElement* MakeAudioSink();
    GstElement* FindSoundOutput();
    // Brings the medium back to PAUSED from READY at stream time `fromNs`, then plays it.
    // False when it cannot; `audioFailed` says whether the audio output was what failed.
    bool Restart(std::int64_t fromNs, bool& audioFailed);
    void LoseSoundOutput(const std::string& why);
    void ReportLoss(const std::string& why);
    // The stream time the medium stands at, in nanoseconds.
    std::int64_t StreamNs();
    GstElement* MakeVideoSink();
    void OpenMedium(const std::string& path);
    GstElement* MakeMidiPipeline(const std::string& path, GstElement* audioSink);
    [[noreturn]] void FailOpen(const std::string& why);

    Options options_;
    GstElement* pipeline_ = nullptr;
    // The MIDI synthesiser with its sound font, made by the first MIDI file and kept for the
    // next ones: loading the font costs more than everything else of an open. Between files
    // it stays in READY, out of any pipeline (NULL would unload the font).
    GstElement* synth_ = nullptr;
    // The medium played to its end (not stopped part-way, not failed).
    bool cleanEnd_ = false;
    unsigned busWatch_ = 0;
    bool atEnd_ = false;
    bool playing_ = false;
    bool nullAudio_ = false;
    // A sound output answered at some open of this device.
    bool soundSeen_ = false;
    bool outputLost_ = false;
    // The loss has been told on standard error; told again only after the output came back.
    bool lossReported_ = false;
    // The audio sink in use (held).
    GstElement* audioSink_ = nullptr;
    // Stream time kept while the pipeline stands below PAUSED; -1 when it can be asked.
    std::int64_t heldNs_ = -1;
    std::int64_t lastNs_ = 0;
    // Where and when the medium last started playing.
    std::int64_t playStartNs_ = 0;
    std::chrono::steady_clock::time_point playStartTime_;
    bool lengthStale_ = false;
    VideoWindow* window_ = nullptr;
    std::shared_ptr<FrameMailbox> mailbox_;
    std::int64_t length_ = 0;
    std::int64_t startOffset_ = 0;
    std::string path_;
};

}  // namespace platform
