// The real media device on generated media: null sinks, real decoding, real time.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "media/GstMedia.h"
#include "support/MediaMaker.h"
#include "support/FifoWatchdog.h"
#include "player/Playback.h"

namespace {

using platform::GstMediaDevice;

GstMediaDevice::Options NullSinks() {
    GstMediaDevice::Options o;
    o.audio = GstMediaDevice::Options::Sink::Null;
    o.video = GstMediaDevice::Options::Sink::Null;
    return o;
}

// Runs the event loop (the bus is watched there) until the device has ended, at most
// `limitMs`; checked at each of a few timer ticks a second.
bool PlayToEnd(GstMediaDevice& device, int limitMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (device.AtEnd()) loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    check.start(50);
    loop.exec();
    return device.AtEnd();
}

class MediaDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    void TearDown() override { platform::SetProcessVolume(0xFFFFFFFFu); }
    std::string Dir() const { return tmp_.path().toStdString(); }
    std::string Make(const std::string& ext, double seconds = 1.0) {
        std::string p = mediamaker::Make(Dir(), ext, seconds);
        EXPECT_FALSE(p.empty()) << "could not make a ." << ext << " file";
        return p;
    }
    QTemporaryDir tmp_;
};

TEST_F(MediaDeviceTest, EveryKindPlaysToItsEndAndAgainFromTheStart) {
    for (const char* ext : {"wav", "mp3", "mid", "mpg", "avi", "mov"}) {
        SCOPED_TRACE(ext);
        const std::string path = Make(ext);
        ASSERT_FALSE(path.empty());
        GstMediaDevice device(NullSinks());
        device.Open(path);
        ASSERT_TRUE(device.IsOpen());
        EXPECT_EQ(device.Position(), 0);
        EXPECT_NEAR(static_cast<double>(device.Length()), 1000.0, 150.0);
        EXPECT_FALSE(device.Playing());
        device.Play();
        ASSERT_TRUE(PlayToEnd(device, 8000));
        EXPECT_EQ(device.Position(), device.Length());
        // Play at the end starts over.
        device.Play();
        EXPECT_FALSE(device.AtEnd());
        EXPECT_LT(device.Position(), 500);
        device.Close();
        EXPECT_FALSE(device.IsOpen());
        EXPECT_EQ(device.Position(), 0);
        EXPECT_EQ(device.Length(), 0);
    }
}

TEST_F(MediaDeviceTest, PauseHoldsThePositionAndOpenReplacesTheMedium) {
    const std::string a = Make("wav", 2.0);
    GstMediaDevice device(NullSinks());
    device.Open(a);
    device.Play();
    QEventLoop loop;
    QTimer::singleShot(400, &loop, &QEventLoop::quit);
    loop.exec();
    device.Stop();
    const auto at = device.Position();
    EXPECT_GT(at, 200);
    EXPECT_LT(at, 1000);
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_NEAR(static_cast<double>(device.Position()), static_cast<double>(at), 60.0);
    device.Open(Make("mp3", 1.0));  // the first medium is closed by the second open
    EXPECT_EQ(device.Position(), 0);
    EXPECT_NEAR(static_cast<double>(device.Length()), 1000.0, 150.0);
}

TEST_F(MediaDeviceTest, BrokenMissingAndUndecodableFilesFailToOpen) {
    GstMediaDevice device(NullSinks());
    const std::string garbage = Dir() + "/garbage.mp3";
    {
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 4096; ++i) out.put(static_cast<char>((i * 7919) % 251));
    }
    EXPECT_THROW(device.Open(garbage), EMCIDeviceError);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_THROW(device.Open(Dir() + "/missing.wav"), EMCIDeviceError);
    const std::string empty = Dir() + "/empty.wav";
    std::ofstream(empty).close();
    EXPECT_THROW(device.Open(empty), EMCIDeviceError);

    // A video stream no installed decoder knows: reported, not played as sound alone.
    const std::string avi = Make("avi");
    std::string bytes;
    {
        std::ifstream in(avi, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        bytes = ss.str();
    }
    int patched = 0;
    for (size_t at = bytes.find("FMP4"); at != std::string::npos; at = bytes.find("FMP4", at + 4), ++patched)
        bytes.replace(at, 4, "QQZZ");
    ASSERT_GT(patched, 0);
    const std::string unknown = Dir() + "/unknown.avi";
    std::ofstream(unknown, std::ios::binary) << bytes;
    try {
        device.Open(unknown);
        FAIL() << "opened a video it cannot decode";
    } catch (const EMCIDeviceError& e) {
        EXPECT_NE(std::string(e.what()).find("unknown.avi"), std::string::npos);
    }
    EXPECT_FALSE(device.IsOpen());
    // The device is still usable afterwards.
    device.Open(Make("wav"));
    EXPECT_TRUE(device.IsOpen());
}

TEST_F(MediaDeviceTest, ChannelLevelsFollowTheProcessVolume) {
    struct Levels {
        std::mutex m;
        double left = 0, right = 0;
        size_t frames = 0;
    } levels;
    auto options = NullSinks();
    options.audioTap = [&levels](const float* s, size_t frames) {
        std::lock_guard<std::mutex> lock(levels.m);
        for (size_t i = 0; i < frames; ++i) {
            levels.left += double(s[2 * i]) * s[2 * i];
            levels.right += double(s[2 * i + 1]) * s[2 * i + 1];
        }
        levels.frames += frames;
    };
    const std::string wav = Make("wav", 0.6);
    auto measure = [&](std::uint32_t volume) {
        platform::SetProcessVolume(volume);
        {
            std::lock_guard<std::mutex> lock(levels.m);
            levels.left = levels.right = 0;
            levels.frames = 0;
        }
        GstMediaDevice device(options);
        device.Open(wav);
        device.Play();
        EXPECT_TRUE(PlayToEnd(device, 5000));
        device.Close();
        std::lock_guard<std::mutex> lock(levels.m);
        EXPECT_GT(levels.frames, 20000u);
        return std::pair<double, double>{std::sqrt(levels.left / double(levels.frames)),
                                         std::sqrt(levels.right / double(levels.frames))};
    };
    const auto full = measure(0xFFFFFFFFu);
    EXPECT_GT(full.first, 0.1);
    EXPECT_NEAR(full.first, full.second, 0.01);
    const auto rightOnly = measure(0x7F000000u);
    EXPECT_LT(rightOnly.first, 1e-6);
    EXPECT_NEAR(rightOnly.second / full.second, 0x7F00 / 65535.0, 0.02);
    const auto half = measure(0x3F003F00u);
    EXPECT_NEAR(half.first / full.first, 0x3F00 / 65535.0, 0.02);
    EXPECT_NEAR(half.second / full.second, 0x3F00 / 65535.0, 0.02);
}

int OpenDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

TEST_F(MediaDeviceTest, OnlyPlainFilesOpenAndAnEmptyMediumEnds) {
    GstMediaDevice device(NullSinks());
    // A FIFO named like a song: refused at once, not a GUI blocked until some writer comes.
    // Should it ever be opened, writers come after ten seconds so the test still ends.
    const std::string fifo = Dir() + "/pipe.mp3";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const auto start = std::chrono::steady_clock::now();
    {
        const FifoWatchdog watchdog(fifo);
        EXPECT_THROW(device.Open(fifo), EMCIDeviceError);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(symlink("/dev/zero", (Dir() + "/zero.wav").c_str()), 0);
    EXPECT_THROW(device.Open(Dir() + "/zero.wav"), EMCIDeviceError);
    ASSERT_EQ(mkdir((Dir() + "/folder.mp3").c_str(), 0755), 0);
    EXPECT_THROW(device.Open(Dir() + "/folder.mp3"), EMCIDeviceError);
    EXPECT_FALSE(device.IsOpen());

    // A WAV header that promises samples it does not have: it knows no length and ends at
    // once. Its end must read as ended, or continuous play would start it again for ever.
    const std::string hollow = Dir() + "/hollow.wav";
    std::ofstream(hollow, std::ios::binary)
        << std::string("RIFF\x24\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0"
                       "data\x00\xff\xff\xff", 44);
    device.Open(hollow);
    EXPECT_TRUE(player::IsAtStartText(player::RemainingText(device.Position(), device.Length())));
    device.Play();
    ASSERT_TRUE(PlayToEnd(device, 5000));
    EXPECT_TRUE(player::IsFinishedText(player::RemainingText(device.Position(), device.Length())));

    // Many opens, good and bad, leave no descriptors behind.
    const std::string wav = Make("wav", 0.3);
    const std::string text = Dir() + "/text.mp3";
    std::ofstream(text) << "not a song\n";
    device.Open(wav);
    device.Close();
    const int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        device.Open(wav);
        EXPECT_THROW(device.Open(text), EMCIDeviceError);
    }
    device.Close();
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
