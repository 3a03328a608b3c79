// Continuous play on the real media device while the sound server comes and goes: a song
// waits where the sound went, and no song is skipped while no server answers; a machine
// that never had sound plays on silently. And the silence between two songs.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <optional>

#include "Fixtures.h"
#include "media/GstMedia.h"
#include "support/MediaMaker.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"
#include "player/Playback.h"

namespace {

class SessionSoundTest : public MainWindowFixture, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        server = soundserver::MakeServer(GetParam(), QString::fromStdString(dir));
        if (const char* old = std::getenv("PULSE_SERVER")) oldServer_ = old;
        setenv("PULSE_SERVER", server->Address().toUtf8().constData(), 1);
        platform::GstMediaDevice::Options o;
        o.soundSinks = {"pulsesink"};
        o.video = platform::GstMediaDevice::Options::Sink::Null;
        auto owned = std::make_unique<platform::GstMediaDevice>(o);
        device = owned.get();
        platform::Current().media = std::move(owned);
        fakes->media = nullptr;
    }
    void TearDown() override {
        platform::Current().media.reset();
        server.reset();
        if (oldServer_) setenv("PULSE_SERVER", oldServer_->c_str(), 1);
        else unsetenv("PULSE_SERVER");
        MainWindowFixture::TearDown();
    }
    // The one-second display and then the six-second step, as time would run them.
    void Step() {
        form->Timer2Timer();
        form->Timer1Timer();
    }
    bool WaitForEnd(int limitMs) {
        return testwait::WaitUntil([&] { return device->AtEnd(); }, limitMs);
    }

    std::unique_ptr<soundserver::SoundServer> server;
    platform::GstMediaDevice* device = nullptr;

private:
    std::optional<std::string> oldServer_;
};

TEST_P(SessionSoundTest, ServerGoneMidSongWaitsThereAndSkipsNoSong) {
    const std::string song = Path("song.wav"), next = Path("next.wav");
    ASSERT_TRUE(mediamaker::WriteStereoWav(song, 20.0, 0.5, 0.5));
    ASSERT_TRUE(mediamaker::WriteStereoWav(next, 1.0, 0.5, 0.5));
    ASSERT_TRUE(server->Start());
    form->CheckListBox1->Add(song);
    form->CheckListBox1->Add(next);
    form->SpeedButton5Click();  // automatic mode
    Step();                     // activates the song
    Step();                     // starts it
    ASSERT_TRUE(device->Playing());
    EXPECT_FALSE(device->NullAudio());
    soundserver::Wait(1500);
    server->Stop();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (device->SoundLost() || device->AtEnd()) loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    check.start(20);
    loop.exec();
    ASSERT_TRUE(device->SoundLost());
    // The display stands where the sound went, and the steps wait on the same song.
    form->Timer2Timer();
    const QString shown = form->Label9->text();
    EXPECT_FALSE(player::IsFinishedText(shown)) << shown.toStdString();
    EXPECT_FALSE(player::IsAtStartText(shown)) << shown.toStdString();
    for (int i = 0; i < 3; ++i) Step();
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 0);
    EXPECT_EQ(form->Label9->text(), shown);
    EXPECT_TRUE(boxes->shown.empty());
    // Back: 再生 goes on from there.
    ASSERT_TRUE(server->Start());
    form->MediaPlayer1->ButtonWidget(TMediaPlayer::btPlay)->click();
    EXPECT_TRUE(device->Playing());
    soundserver::Wait(1100);
    form->Timer2Timer();
    EXPECT_NE(form->Label9->text(), shown);
    EXPECT_FALSE(player::IsFinishedText(form->Label9->text()));
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 0);
}

TEST_P(SessionSoundTest, SongReachedWhileNoServerAnswersWaitsForIt) {
    const std::string first = Path("first.wav"), second = Path("second.wav"), third = Path("third.wav");
    ASSERT_TRUE(mediamaker::WriteStereoWav(first, 1.0, 0.5, 0.5));
    ASSERT_TRUE(mediamaker::WriteStereoWav(second, 1.0, 0.5, 0.5));
    ASSERT_TRUE(mediamaker::WriteStereoWav(third, 1.0, 0.5, 0.5));
    ASSERT_TRUE(server->Start());
    for (const std::string& s : {first, second, third}) form->CheckListBox1->Add(s);
    form->SpeedButton5Click();
    Step();
    Step();
    ASSERT_TRUE(device->Playing());
    ASSERT_TRUE(WaitForEnd(5000));
    server->Stop();
    Step();  // ended: the second song opens all the same, no box
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 1);
    EXPECT_TRUE(device->IsOpen());
    EXPECT_TRUE(boxes->shown.empty());
    for (int i = 0; i < 3; ++i) Step();  // its start is tried, and waits
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 1);
    EXPECT_FALSE(device->Playing());
    EXPECT_EQ(form->Label9->text(), QStringLiteral("残り100.0%"));
    ASSERT_TRUE(server->Start());
    Step();  // the next step starts it, now heard
    EXPECT_TRUE(device->Playing());
    EXPECT_FALSE(device->SoundLost());
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 1);
}

TEST_P(SessionSoundTest, NextSongIsHeardAtTheStepThatStartsIt) {
    const std::string first = Path("first.wav"), second = Path("second.wav");
    ASSERT_TRUE(mediamaker::WriteStereoWav(first, 1.0, 0.5, 0.5));
    ASSERT_TRUE(mediamaker::WriteStereoWav(second, 10.0, 0.5, 0.5));
    ASSERT_TRUE(server->Start());
    form->CheckListBox1->Add(first);
    form->CheckListBox1->Add(second);
    form->SpeedButton5Click();
    Step();
    Step();
    ASSERT_TRUE(WaitForEnd(5000));
    Step();  // the second song opens
    ASSERT_EQ(form->CheckListBox1->ItemIndex(), 1);
    ASSERT_TRUE(server->StartRecording());
    // It lies open until the next step, as it does between two ticks of six seconds.
    soundserver::Wait(6000);
    const std::size_t step = server->RecordedFrames();
    Step();
    ASSERT_TRUE(device->Playing());
    soundserver::Wait(800);
    const double onset = soundserver::OnsetAfter(server->StopRecording(), step);
    std::printf("%s: silence after the step that starts the next song (open 6 s) %.3f s\n", server->Name(), onset);
    EXPECT_GE(onset, 0.0);
    EXPECT_LT(onset, 0.2);
}

TEST_P(SessionSoundTest, NeverAnySoundPlaysOnSilently) {
    const std::string first = Path("first.wav"), second = Path("second.wav");
    ASSERT_TRUE(mediamaker::WriteStereoWav(first, 0.5, 0.5, 0.5));
    ASSERT_TRUE(mediamaker::WriteStereoWav(second, 0.5, 0.5, 0.5));
    form->CheckListBox1->Add(first);
    form->CheckListBox1->Add(second);
    form->SpeedButton5Click();
    Step();
    Step();
    ASSERT_TRUE(device->Playing());
    EXPECT_TRUE(device->NullAudio());
    ASSERT_TRUE(WaitForEnd(5000));
    Step();  // ended: the next entry opens, silently too
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 1);
    EXPECT_TRUE(device->IsOpen());
    form->Timer2Timer();
    EXPECT_EQ(form->Label9->text(), QStringLiteral("残り100.0%"));
    EXPECT_TRUE(boxes->shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Servers, SessionSoundTest, ::testing::Values("PulseAudio", "PipeWire"),
                         [](const auto& info) { return info.param; });

}  // namespace
