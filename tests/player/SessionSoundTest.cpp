// Continuous play on the real media device while the sound server comes and goes: a server
// that is gone brings the error box at the next open; a machine that never had sound plays
// on silently.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <optional>

#include "Fixtures.h"
#include "platform/GstMedia.h"
#include "support/MediaMaker.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"
#include "player/Playback.h"

namespace {

class SessionSoundTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        server = std::make_unique<soundserver::PulseServer>(QString::fromStdString(dir));
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

    std::unique_ptr<soundserver::PulseServer> server;
    platform::GstMediaDevice* device = nullptr;

private:
    std::optional<std::string> oldServer_;
};

TEST_F(SessionSoundTest, ServerGoneMidSongGivesTheErrorBoxAtTheNextOpen) {
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
    // Heard for a moment before the server goes.
    ASSERT_TRUE(testwait::WaitUntil([&] { return device->Position() > 0; }, 5000));
    server->Stop();
    // The song ends where the sound went, and the display says so at its next tick.
    ASSERT_TRUE(WaitForEnd(5000));
    form->Timer2Timer();
    EXPECT_EQ(form->Label9->text(), QStringLiteral("残り0.0%"));
    form->Timer1Timer();  // moves on to the next entry, whose open fails
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 1);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].kind, platform::BoxKind::Error);
    EXPECT_EQ(boxes->shown[0].text, QStringLiteral("ご指定のファイルは壊れている\r\n可能性があります。"));
}

TEST_F(SessionSoundTest, NeverAnySoundPlaysOnSilently) {
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

}  // namespace
