// A sound server that goes away in the middle of a file, on PulseAudio and on PipeWire: the
// file stands where the sound went, standard error says why once, and 再生 goes on from
// there once the server is back.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <optional>

#include "support/MediaMaker.h"
#include "support/SoundServer.h"
#include "media/GstMedia.h"
#include "player/Playback.h"

namespace {

using platform::GstMediaDevice;
using soundserver::Wait;

// Runs the event loop (the device's bus is watched there) until `done`, at most `limitMs`.
template <class Condition>
bool WaitUntil(Condition done, int limitMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    check.start(20);
    loop.exec();
    return done();
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class SoundLossTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        server = soundserver::MakeServer(GetParam(), tmp_.path());
        ASSERT_TRUE(server->Start()) << GetParam() << " did not start";
        if (const char* old = std::getenv("PULSE_SERVER")) old_ = old;
        setenv("PULSE_SERVER", server->Address().toUtf8().constData(), 1);
    }
    void TearDown() override {
        server.reset();
        if (old_) setenv("PULSE_SERVER", old_->c_str(), 1);
        else unsetenv("PULSE_SERVER");
        if (HasFailure()) tmp_.setAutoRemove(false);
    }
    std::string Dir() const { return tmp_.path().toStdString(); }
    static GstMediaDevice::Options Options() {
        GstMediaDevice::Options o;
        o.soundSinks = {"pulsesink"};
        o.video = GstMediaDevice::Options::Sink::Null;
        return o;
    }

    QTemporaryDir tmp_;
    std::unique_ptr<soundserver::SoundServer> server;

private:
    std::optional<std::string> old_;
};

TEST_P(SoundLossTest, ServerGoneMidFileKeepsThePlaceAndPlaysOnFromThereWhenBack) {
    const std::string song = Dir() + "/song.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(song, 30.0, 0.5, 0.5));
    GstMediaDevice device(Options());
    device.Open(song);
    device.Play();
    Wait(2000);
    ASSERT_TRUE(device.Playing());
    soundserver::StderrCapture err(Dir() + "/stderr.txt");
    server->Stop();
    ASSERT_TRUE(WaitUntil([&] { return device.SoundLost() || device.AtEnd(); }, 5000));
    // Not an end: the file stands about where the sound went.
    EXPECT_TRUE(device.SoundLost());
    EXPECT_FALSE(device.AtEnd());
    EXPECT_FALSE(device.Playing());
    const std::int64_t at = device.Position();
    EXPECT_GT(at, 1500);
    EXPECT_LT(at, 3500);
    EXPECT_EQ(device.Length(), 30000);
    const QString shown = player::RemainingText(at, device.Length());
    EXPECT_FALSE(player::IsFinishedText(shown)) << shown.toStdString();
    EXPECT_FALSE(player::IsAtStartText(shown)) << shown.toStdString();
    Wait(1500);
    EXPECT_EQ(device.Position(), at);

    // 再生 while no server answers: nothing moves, and the reason is not said twice.
    device.Play();
    device.Play();
    EXPECT_FALSE(device.Playing());
    EXPECT_TRUE(device.SoundLost());
    EXPECT_EQ(device.Position(), at);
    const std::string said = err.Text();
    EXPECT_EQ(Count(said, "the sound output has gone"), 1) << said;
    EXPECT_NE(said.find("song.wav"), std::string::npos) << said;

    // Back: 再生 is heard at once, from where the file stood.
    ASSERT_TRUE(server->Start());
    ASSERT_TRUE(server->StartRecording());
    const std::size_t pressed = server->RecordedFrames();
    device.Play();
    EXPECT_TRUE(device.Playing());
    EXPECT_FALSE(device.SoundLost());
    // Long enough for a server just started to hand its recording over.
    Wait(2000);
    const std::int64_t after = device.Position();
    const double onset = soundserver::OnsetAfter(server->StopRecording(), pressed);
    std::printf("%s: silence after 再生 once the server is back %.3f s\n", server->Name(), onset);
    EXPECT_GE(onset, 0.0);
    // A server just started links the new stream first: up to half a second on a loaded machine.
    EXPECT_LT(onset, 0.6);
    EXPECT_GT(after, at + 1700);
    EXPECT_LT(after, at + 2300);
}

TEST_P(SoundLossTest, ServerGoneWhilePausedIsFoundOutAtPlay) {
    const std::string song = Dir() + "/song.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(song, 30.0, 0.5, 0.5));
    GstMediaDevice device(Options());
    device.Open(song);
    device.Play();
    Wait(1000);
    device.Pause();
    const std::int64_t at = device.Position();
    server->Stop();
    Wait(500);
    // The output went while nothing played: the press finds it gone and keeps the place.
    {
        soundserver::StderrCapture err(Dir() + "/stderr.txt");
        device.Play();
        EXPECT_FALSE(device.Playing());
        EXPECT_TRUE(device.SoundLost());
        EXPECT_FALSE(device.AtEnd());
        EXPECT_EQ(Count(err.Text(), "the sound output has gone"), 1);
    }
    EXPECT_NEAR(static_cast<double>(device.Position()), static_cast<double>(at), 50.0);
    ASSERT_TRUE(server->Start());
    device.Play();
    EXPECT_TRUE(device.Playing());
    Wait(500);
    EXPECT_GT(device.Position(), at + 200);
    EXPECT_LT(device.Position(), at + 1000);
}

INSTANTIATE_TEST_SUITE_P(Servers, SoundLossTest, ::testing::Values("PulseAudio", "PipeWire"),
                         [](const auto& info) { return info.param; });

}  // namespace
