// When the user hears what they asked for, measured on the recording of a null sink of
// PulseAudio and of PipeWire (through its Pulse server): the sound after 再生, after a pause,
// and after a move of the volume bars.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "support/MediaMaker.h"
#include "support/SoundServer.h"
#include "media/GstMedia.h"

namespace {

using platform::GstMediaDevice;
using soundserver::Wait;

// Points the process's sound at a server for the life of the object.
class ServerAddress {
public:
    explicit ServerAddress(const QString& address) {
        if (const char* old = std::getenv("PULSE_SERVER")) old_ = old;
        setenv("PULSE_SERVER", address.toUtf8().constData(), 1);
    }
    ~ServerAddress() {
        if (old_) setenv("PULSE_SERVER", old_->c_str(), 1);
        else unsetenv("PULSE_SERVER");
    }

private:
    std::optional<std::string> old_;
};

GstMediaDevice::Options ServerSound() {
    GstMediaDevice::Options o;
    o.soundSinks = {"pulsesink"};
    o.video = GstMediaDevice::Options::Sink::Null;
    return o;
}

// Half a second of sound heard within this of the press counts as at once. The aim is 0.2 s
// (the figures are printed); the bound leaves room for a sound server on a loaded machine,
// and the faults it catches held the sound for a second and more.
constexpr double kAtOnce = 0.5;

class SoundOnsetTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        server = soundserver::MakeServer(GetParam(), tmp_.path());
        ASSERT_TRUE(server->Start()) << GetParam() << " did not start; see " << tmp_.path().toStdString();
        address_.emplace(server->Address());
        song = Dir() + "/long.wav";
        ASSERT_TRUE(mediamaker::WriteStereoWav(song, 30.0, 0.5, 0.5));
    }
    void TearDown() override {
        platform::SetProcessVolume(0xFFFFFFFFu);
        if (server) server->Stop();
        address_.reset();
        if (HasFailure()) tmp_.setAutoRemove(false);
    }
    std::string Dir() const { return tmp_.path().toStdString(); }
    void Report(const char* what, double seconds) {
        std::printf("%s: %s %.3f s\n", server->Name(), what, seconds);
    }

    QTemporaryDir tmp_;
    std::unique_ptr<soundserver::SoundServer> server;
    std::string song;

private:
    std::optional<ServerAddress> address_;
};

TEST_P(SoundOnsetTest, PlayIsHeardAtOnceHoweverLongTheFileLayOpen) {
    GstMediaDevice device(ServerSound());
    ASSERT_TRUE(server->StartRecording());
    struct Press {
        const char* what;
        std::size_t mark;
    };
    std::vector<Press> presses;
    for (int openMs : {500, 8000}) {
        device.Open(song);
        ASSERT_FALSE(device.NullAudio());
        Wait(openMs);
        presses.push_back({openMs == 500 ? "silence after 再生, 0.5 s open" : "silence after 再生, 8 s open",
                           server->RecordedFrames()});
        device.Play();
        Wait(800);
        EXPECT_GT(device.Position(), 500) << openMs;
        device.Close();
        Wait(300);
    }
    const auto samples = server->StopRecording();
    for (const Press& p : presses) {
        const double onset = soundserver::OnsetAfter(samples, p.mark);
        Report(p.what, onset);
        EXPECT_GE(onset, 0.0) << p.what << ": nothing heard";
        EXPECT_LT(onset, kAtOnce) << p.what;
    }
}

TEST_P(SoundOnsetTest, PauseFallsSilentAndResumeGoesOnAtOnceFromThere) {
    GstMediaDevice device(ServerSound());
    device.Open(song);
    ASSERT_TRUE(server->StartRecording());
    device.Play();
    Wait(1500);
    const std::size_t paused = server->RecordedFrames();
    device.Pause();
    const std::int64_t at = device.Position();
    EXPECT_GT(at, 1000);
    Wait(3000);
    // Standing still, and silent, while paused.
    EXPECT_NEAR(static_cast<double>(device.Position()), static_cast<double>(at), 50.0);
    const std::size_t resumed = server->RecordedFrames();
    device.Play();
    Wait(1000);
    const std::int64_t after = device.Position();
    const auto samples = server->StopRecording();
    const double quiet = soundserver::QuietAfter(samples, paused, 0.001f);
    Report("silence after 一時停止 begins after", quiet);
    EXPECT_GE(quiet, 0.0);
    EXPECT_LT(quiet, kAtOnce);
    // Nothing was heard in the paused time, except what was on its way when paused.
    const std::vector<float> pause(samples.begin() + 2 * (paused + 8820), samples.begin() + 2 * resumed);
    EXPECT_LT(soundserver::PeakDb(pause).first, -60.0);
    const double onset = soundserver::OnsetAfter(samples, resumed);
    Report("silence after 再生 following 3 s of pause", onset);
    EXPECT_GE(onset, 0.0);
    EXPECT_LT(onset, kAtOnce);
    // It went on from where it stood, not from the start and not from further on.
    EXPECT_GT(after, at + 700);
    EXPECT_LT(after, at + 1300);
}

TEST_P(SoundOnsetTest, VolumeBarsAreHeardAtOnce) {
    GstMediaDevice device(ServerSound());
    device.Open(song);
    ASSERT_TRUE(server->StartRecording());
    device.Play();
    Wait(1000);
    const std::size_t down = server->RecordedFrames();
    platform::SetProcessVolume(0);
    Wait(700);
    const std::size_t up = server->RecordedFrames();
    platform::SetProcessVolume(0xFFFFFFFFu);
    Wait(700);
    // Changed while paused: what comes at the resume is at the new level at once, not a
    // burst at the old one from the output's buffer.
    device.Pause();
    Wait(300);
    platform::SetProcessVolume(0x10001000u);  // about −24 dB
    const std::size_t resumed = server->RecordedFrames();
    device.Play();
    Wait(700);
    const auto samples = server->StopRecording();
    const double quiet = soundserver::QuietAfter(samples, down, 0.001f);
    Report("bar to the bottom heard after", quiet);
    EXPECT_GE(quiet, 0.0);
    EXPECT_LT(quiet, kAtOnce);
    const double loud = soundserver::OnsetAfter(samples, up, 0.1f);
    Report("bar to the top heard after", loud);
    EXPECT_GE(loud, 0.0);
    EXPECT_LT(loud, kAtOnce);
    const std::vector<float> resumedPart(samples.begin() + 2 * resumed, samples.end());
    EXPECT_LT(soundserver::PeakDb(resumedPart).first, 20 * std::log10(0.5 * 0x1000 / 65535.0) + 1.5);
    EXPECT_GE(soundserver::OnsetAfter(samples, resumed, 0.005f), 0.0) << "nothing heard after the resume";
}

INSTANTIATE_TEST_SUITE_P(Servers, SoundOnsetTest, ::testing::Values("PulseAudio", "PipeWire"),
                         [](const auto& info) { return info.param; });

}  // namespace
