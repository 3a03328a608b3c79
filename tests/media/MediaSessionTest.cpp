// The real media device against a sound server of the test's own, in its own video window,
// with a decoder hidden, and with MIDI: what the user hears and sees.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>

#include "support/MediaMaker.h"
#include "support/SoundServer.h"
#include "support/WaitUntil.h"
#include "media/GstMedia.h"
#include "media/VideoWindow.h"
#include "player/Playback.h"

namespace {

using platform::GstMediaDevice;
using testwait::WaitUntil;

bool PlayToEnd(GstMediaDevice& device, int limitMs) {
    return WaitUntil([&] { return device.AtEnd(); }, limitMs);
}

double Db(double share) { return 20 * std::log10(share); }

// Sets an environment variable for the life of the object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class MediaSessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    void TearDown() override { platform::SetProcessVolume(0xFFFFFFFFu); }
    std::string Dir() const { return tmp_.path().toStdString(); }
    QTemporaryDir tmp_;
};

// Sound only through the test's server: no video, and no sound card probed besides it.
GstMediaDevice::Options ServerSound() {
    GstMediaDevice::Options o;
    o.soundSinks = {"pulsesink"};
    o.video = GstMediaDevice::Options::Sink::Null;
    return o;
}

TEST_F(MediaSessionTest, RecordedChannelLevelsFollowTheVolumeBars) {
    soundserver::PulseServer server(tmp_.path());
    ASSERT_TRUE(server.Start());
    const ScopedEnv env("PULSE_SERVER", server.Address().toStdString());
    // Left at −6.02 dBFS, right at −12.04 dBFS, so a swap of the channels shows too.
    const std::string wav = Dir() + "/stereo.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(wav, 0.5, 0.5, 0.25));
    GstMediaDevice device(ServerSound());
    auto level = [](int position) { return (127 - position) * 256; };
    struct Case {
        const char* what;
        std::uint32_t value;
        double left, right;  // gains as shares of full scale
    } cases[] = {
        {"bars never moved", 0xFFFFFFFFu, 1.0, 1.0},
        {"all at the top", 0x7F007F00u, 0x7F00 / 65535.0, 0x7F00 / 65535.0},
        {"both at 64", 0x3F003F00u, 0x3F00 / 65535.0, 0x3F00 / 65535.0},
        {"left 100, right 20", std::uint32_t(level(100)) | std::uint32_t(level(20)) << 16, level(100) / 65535.0, level(20) / 65535.0},
        {"left at the top, right at the bottom", 0x00007F00u, 0x7F00 / 65535.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::SetProcessVolume(c.value);
        ASSERT_TRUE(server.StartRecording());
        device.Open(wav);
        ASSERT_FALSE(device.NullAudio());
        device.Play();
        ASSERT_TRUE(PlayToEnd(device, 5000));
        ASSERT_TRUE(server.WaitSoundEnded(5000));
        device.Close();
        const auto samples = server.StopRecording();
        ASSERT_GT(samples.size(), 2u * 44100 / 2);
        const auto [left, right] = soundserver::PeakDb(samples);
        EXPECT_NEAR(left, Db(0.5) + Db(c.left), 0.1);
        if (c.right > 0) EXPECT_NEAR(right, Db(0.25) + Db(c.right), 0.1);
        else EXPECT_LT(right, -90.0);
    }
}

TEST_F(MediaSessionTest, ServerThatComesLateIsUsedAndOneThatGoesIsWaitedFor) {
    soundserver::PulseServer server(tmp_.path());
    const ScopedEnv env("PULSE_SERVER", server.Address().toStdString());
    const std::string wav = Dir() + "/tone.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(wav, 0.4, 0.5, 0.5));
    const std::string longWav = Dir() + "/long.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(longWav, 20.0, 0.5, 0.5));
    GstMediaDevice device(ServerSound());

    // No server yet, and never one for this device: the file plays silently to its end.
    device.Open(wav);
    EXPECT_TRUE(device.NullAudio());
    EXPECT_FALSE(device.SoundLost());
    device.Play();
    EXPECT_TRUE(PlayToEnd(device, 5000));

    // The server comes up: the next open is heard.
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.StartRecording());
    device.Open(wav);
    EXPECT_FALSE(device.NullAudio());
    device.Play();
    ASSERT_TRUE(PlayToEnd(device, 5000));
    ASSERT_TRUE(server.WaitSoundEnded(5000));
    EXPECT_NEAR(soundserver::PeakDb(server.StopRecording()).first, Db(0.5), 0.1);

    // The server stops while a long file plays: the file stands where the sound went,
    // rather than ending or counting down twenty silent seconds.
    device.Open(longWav);
    device.Play();
    ASSERT_TRUE(WaitUntil([&] { return device.Position() > 0; }, 5000));
    EXPECT_FALSE(device.AtEnd());
    server.Stop();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (device.SoundLost() || device.AtEnd()) loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    check.start(20);
    loop.exec();
    EXPECT_TRUE(device.SoundLost());
    EXPECT_FALSE(device.AtEnd());
    EXPECT_FALSE(player::IsFinishedText(player::RemainingText(device.Position(), device.Length())));

    // The next open opens all the same, standing at its start until the output answers.
    EXPECT_NO_THROW(device.Open(wav));
    EXPECT_TRUE(device.IsOpen());
    EXPECT_TRUE(device.SoundLost());
    EXPECT_FALSE(device.NullAudio());
    device.Play();
    EXPECT_FALSE(device.Playing());
    EXPECT_TRUE(player::IsAtStartText(player::RemainingText(device.Position(), device.Length())));

    // Back again: heard again.
    ASSERT_TRUE(server.Start());
    device.Open(wav);
    EXPECT_FALSE(device.NullAudio());
    EXPECT_FALSE(device.SoundLost());
}

TEST_F(MediaSessionTest, ServerThatNeverAnswersHoldsAnOpenForAMomentOnly) {
    soundserver::PulseServer server(tmp_.path());
    ASSERT_TRUE(server.Start());
    const std::string wav = Dir() + "/tone.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(wav, 0.3, 0.5, 0.5));
    auto options = ServerSound();
    options.soundProbeMs = 3000;
    GstMediaDevice heard(options);    // has had sound
    GstMediaDevice silent(options);   // never had any
    {
        const ScopedEnv env("PULSE_SERVER", server.Address().toStdString());
        heard.Open(wav);
        ASSERT_FALSE(heard.NullAudio());
    }
    auto msSince = [](auto start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    };
    {
        soundserver::MuteServer mute(Dir() + "/mute");
        ASSERT_TRUE(mute.Ok());
        const ScopedEnv env("PULSE_SERVER", mute.Address());
        // A device that had sound: the open waits for the output once the probe has waited
        // its time.
        auto start = std::chrono::steady_clock::now();
        EXPECT_NO_THROW(heard.Open(wav));
        EXPECT_TRUE(heard.SoundLost());
        EXPECT_GE(msSince(start), 2900);
        EXPECT_LT(msSince(start), 5000);
        EXPECT_EQ(mute.Accepted(), 1);
        // While that probe still hangs, no second one is started, and nothing waits.
        start = std::chrono::steady_clock::now();
        silent.Open(wav);
        EXPECT_LT(msSince(start), 2000);
        EXPECT_TRUE(silent.NullAudio());
        EXPECT_EQ(mute.Accepted(), 1);
    }
    // The wedged server is gone and took its connection along: the hanging probe ends, and
    // the real server is heard again.
    const ScopedEnv env("PULSE_SERVER", server.Address().toStdString());
    const bool back = WaitUntil(
        [&] {
            try {
                heard.Open(wav);
                return !heard.SoundLost() && !heard.NullAudio();
            } catch (const EMCIDeviceError&) {
                return false;
            }
        },
        3000, 100);
    EXPECT_TRUE(back);
}

// Counts the distinct colours of an image, up to a limit.
int Colours(const QImage& image, int limit = 64) {
    QSet<QRgb> seen;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height() && seen.size() < limit; y += 2)
        for (int x = 0; x < rgb.width() && seen.size() < limit; x += 2) seen.insert(rgb.pixel(x, y) & 0xFFFFFF);
    return static_cast<int>(seen.size());
}

TEST_F(MediaSessionTest, VideoFramesReachTheDevicesOwnWindow) {
    GstMediaDevice::Options o;
    o.audio = GstMediaDevice::Options::Sink::Null;
    GstMediaDevice device(o);
    for (const char* ext : {"avi", "mov", "mpg"}) {
        SCOPED_TRACE(ext);
        const std::string path = mediamaker::Make(Dir(), ext, 1.0, std::string("clip-") + ext);
        ASSERT_FALSE(path.empty());
        device.Open(path);
        platform::VideoWindow* window = device.Window();
        ASSERT_NE(window, nullptr);
        // The first picture is there once the medium is open, but the window comes up only
        // when it plays.
        WaitUntil([&] { return window->FramesShown() >= 1; }, 2000);
        EXPECT_FALSE(window->isVisible());
        EXPECT_GE(window->FramesShown(), 1);
        EXPECT_EQ(window->Frame().size(), QSize(160, 120));
        EXPECT_EQ(window->windowTitle(), QString::fromStdString("clip-" + std::string(ext) + "." + ext));
        device.Play();
        EXPECT_TRUE(window->isVisible());
        ASSERT_TRUE(PlayToEnd(device, 8000));
        WaitUntil([&] { return window->FramesShown() >= 5; }, 2000);
        // 25 frames a second for one second; a loaded machine may skip some.
        EXPECT_GE(window->FramesShown(), 5);
        // The test picture's colour bars, as drawn on the window itself.
        const QImage shown = window->grab().toImage();
        EXPECT_EQ(shown.size(), QSize(160, 120));
        EXPECT_GE(Colours(shown), 8);
        device.Close();
        EXPECT_FALSE(window->isVisible());
    }

    // A medium without a picture brings no window up.
    device.Open(mediamaker::Make(Dir(), "wav", 0.3));
    device.Play();
    ASSERT_TRUE(PlayToEnd(device, 5000));
    EXPECT_FALSE(device.Window()->isVisible());
    EXPECT_EQ(device.Window()->FramesShown(), 0);

    // Nor does a device whose pictures go nowhere.
    o.video = GstMediaDevice::Options::Sink::Null;
    GstMediaDevice blind(o);
    blind.Open(mediamaker::Make(Dir(), "avi", 0.3, "blind"));
    EXPECT_EQ(blind.Window(), nullptr);
}

// Hides every H.264 decoder from the automatic plugging for the life of the object.
class HiddenH264Decoders {
public:
    HiddenH264Decoders() {
        gst_init(nullptr, nullptr);
        GstCaps* h264 = gst_caps_from_string("video/x-h264");
        GList* decoders = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_NONE);
        for (GList* l = decoders; l; l = l->next) {
            auto* factory = GST_ELEMENT_FACTORY(l->data);
            if (!gst_element_factory_can_sink_any_caps(factory, h264)) continue;
            const guint rank = gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory));
            if (rank == GST_RANK_NONE) continue;
            hidden_.push_back({GST_PLUGIN_FEATURE(gst_object_ref(factory)), rank});
            gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory), GST_RANK_NONE);
        }
        gst_plugin_feature_list_free(decoders);
        gst_caps_unref(h264);
    }
    ~HiddenH264Decoders() {
        for (auto& [feature, rank] : hidden_) {
            gst_plugin_feature_set_rank(feature, rank);
            gst_object_unref(feature);
        }
    }
    size_t Count() const { return hidden_.size(); }

private:
    std::vector<std::pair<GstPluginFeature*, guint>> hidden_;
};

TEST_F(MediaSessionTest, MissingDecoderIsNamedOnStandardError) {
    const std::string mov = mediamaker::Make(Dir(), "mov", 0.5);
    ASSERT_FALSE(mov.empty());
    GstMediaDevice::Options o;
    o.audio = GstMediaDevice::Options::Sink::Null;
    o.video = GstMediaDevice::Options::Sink::Null;
    GstMediaDevice device(o);
    {
        const HiddenH264Decoders hidden;
        ASSERT_GT(hidden.Count(), 0u);
        soundserver::StderrCapture err(Dir() + "/stderr.txt");
        EXPECT_THROW(device.Open(mov), EMCIDeviceError);
        const std::string text = err.Text();
        EXPECT_NE(text.find("H.264"), std::string::npos) << text;
        EXPECT_NE(text.find("decoder"), std::string::npos) << text;
        EXPECT_NE(text.find("m.mov"), std::string::npos) << text;
        std::printf("standard error: %s", text.c_str());
        EXPECT_FALSE(device.IsOpen());
    }
    // With the decoder back, the same file opens and nothing is reported missing.
    soundserver::StderrCapture err(Dir() + "/stderr2.txt");
    device.Open(mov);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(err.Text().find("missing"), std::string::npos);
}

// The loudest sample of what reached the null sink since the last Reset, through a device's
// audio tap.
class PeakTap {
public:
    GstMediaDevice::Options Options() {
        GstMediaDevice::Options o;
        o.audio = GstMediaDevice::Options::Sink::Null;
        o.video = GstMediaDevice::Options::Sink::Null;
        o.audioTap = [this](const float* s, size_t frames) {
            std::lock_guard<std::mutex> lock(m_);
            for (size_t i = 0; i < 2 * frames; ++i) peak_ = std::max(peak_, std::fabs(s[i]));
            frames_ += frames;
        };
        return o;
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(m_);
        peak_ = 0;
        frames_ = 0;
    }
    double PeakDb() {
        std::lock_guard<std::mutex> lock(m_);
        return Db(peak_);
    }
    size_t Frames() {
        std::lock_guard<std::mutex> lock(m_);
        return frames_;
    }

private:
    std::mutex m_;
    float peak_ = 0;
    size_t frames_ = 0;
};

TEST_F(MediaSessionTest, MidiPlaysAtTheLevelOfOtherMusic) {
    PeakTap tap;
    const GstMediaDevice::Options o = tap.Options();
    auto measure = [&](const std::string& path) {
        tap.Reset();
        GstMediaDevice device(o);
        device.Open(path);
        device.Play();
        EXPECT_TRUE(PlayToEnd(device, 15000));
        device.Close();
        EXPECT_GT(tap.Frames(), 44100u * 9 / 10);
        return tap.PeakDb();
    };
    const std::string song = Dir() + "/song.mid";
    ASSERT_TRUE(mediamaker::WriteGeneralMidi(song, 4.0));
    const double songPeak = measure(song);
    EXPECT_GE(songPeak, -12.0);
    EXPECT_LE(songPeak, -3.0);
    // A single piano note, far sparser than any song, comes out well above the −33 dBFS
    // of the synthesiser's own gain and stays below the song.
    const double notePeak = measure(mediamaker::Make(Dir(), "mid", 1.0, "note"));
    EXPECT_GE(notePeak, -30.0);
    EXPECT_LT(notePeak, songPeak);
    // Other files keep their own level: a full-scale WAV stays at full scale.
    const std::string wav = Dir() + "/full.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(wav, 1.0, 1.0, 1.0));
    EXPECT_NEAR(measure(wav), 0.0, 0.1);
    std::printf("MIDI peaks: song %.1f dBFS, one note %.1f dBFS\n", songPeak, notePeak);
}

// One device plays MIDI file after MIDI file with the synthesiser it made for the first,
// whatever came between: a file closed while playing, one that fails, other music, and a
// file named .mid that holds other music, which plays as what it holds.
TEST_F(MediaSessionTest, TheSynthesiserKeptForMidiServesEveryLaterFile) {
    PeakTap tap;
    GstMediaDevice device(tap.Options());
    auto play = [&](const std::string& path) {
        tap.Reset();
        device.Open(path);
        device.Play();
        EXPECT_TRUE(PlayToEnd(device, 15000)) << path;
        EXPECT_GT(tap.Frames(), 44100u * 9 / 10) << path;
        return tap.PeakDb();
    };
    const std::string note = mediamaker::Make(Dir(), "mid", 1.0, "note");
    const double first = play(note);
    EXPECT_GE(first, -30.0);

    device.Open(note);
    device.Play();
    device.Close();
    EXPECT_FALSE(device.IsOpen());

    // A MIDI header with nothing playable behind it.
    const std::string broken = Dir() + "/broken.mid";
    {
        std::ofstream out(broken, std::ios::binary);
        out.write("MThd\0\0\0\6\0\1\0\1\0\x60MTrk\0\0\xff\xff", 22);
        for (int i = 0; i < 512; ++i) out.put(static_cast<char>((i * 7919) % 251));
    }
    EXPECT_THROW(device.Open(broken), EMCIDeviceError);
    EXPECT_FALSE(device.IsOpen());

    const std::string wav = Dir() + "/full.wav";
    ASSERT_TRUE(mediamaker::WriteStereoWav(wav, 1.0, 1.0, 1.0));
    EXPECT_NEAR(play(wav), 0.0, 0.1);
    const std::string wavNamedMid = Dir() + "/wave.mid";
    ASSERT_TRUE(QFile::copy(QString::fromStdString(wav), QString::fromStdString(wavNamedMid)));
    EXPECT_NEAR(play(wavNamedMid), 0.0, 0.1);

    EXPECT_NEAR(play(note), first, 1.0);
}

}  // namespace
