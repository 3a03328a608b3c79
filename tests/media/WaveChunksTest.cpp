// A WAVE file cut inside its header is refused before the decoder spins on it; every other
// file, a cut one included, goes on to the decoder as before.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "media/GstMedia.h"
#include "media/WaveChunks.h"
#include "platform/Media.h"
#include "support/WaitUntil.h"

namespace {

std::string Le32(std::uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v >> 16 & 0xFF),
            static_cast<char>(v >> 24 & 0xFF)};
}

std::string Chunk(const std::string& id, std::uint32_t size, const std::string& body) { return id + Le32(size) + body; }

// 16-bit stereo 44.1 kHz PCM format chunk.
std::string Fmt() {
    return Chunk("fmt ", 16, std::string("\x01\x00\x02\x00", 4) + Le32(44100) + Le32(44100 * 4) + std::string("\x04\x00\x10\x00", 4));
}

std::string Riff(const std::string& chunks) { return "RIFF" + Le32(0x50C026) + "WAVE" + chunks; }

TEST(WaveChunks, HeaderCutShortOrWithoutSoundIsAFaultAndEverythingElseIsNot) {
    const std::string sound(4000, '\x10');
    const struct {
        const char* what;
        std::string bytes;
        bool fault;
    } cases[] = {
        {"whole", Riff(Fmt() + Chunk("data", 4000, sound)), false},
        {"sound cut short", Riff(Fmt() + Chunk("data", 5000000, sound)), false},
        {"no sound at all behind a whole header", Riff(Fmt() + Chunk("data", 5000000, "")), false},
        {"odd-sized chunk padded before the data", Riff(Fmt() + Chunk("LIST", 3, "abc") + std::string(1, '\0') + Chunk("data", 4000, sound)), false},
        {"cut inside a LIST chunk", Riff(Fmt() + Chunk("LIST", 26, "")), true},
        {"cut inside the format chunk", Riff(Fmt().substr(0, 14)), true},
        {"chunks but no data", Riff(Fmt() + Chunk("LIST", 4, "INFO")), true},
        {"not a WAVE file", std::string("ID3\x03") + sound, false},
        {"RIFF of another kind", "RIFF" + Le32(100) + "AVI " + Chunk("LIST", 9999, ""), false},
        {"too short to tell", "RIFF", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(!media::WaveHeaderFault(c.bytes, c.bytes.size()).empty(), c.fault) << c.what;
}

TEST(WaveChunks, TheDeviceRefusesAHeaderCutShortAndStillPlaysACutSound) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const auto write = [&](const std::string& name, const std::string& bytes) {
        const std::string path = tmp.path().toStdString() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    };
    platform::GstMediaDevice::Options o;
    o.audio = platform::GstMediaDevice::Options::Sink::Null;
    o.video = platform::GstMediaDevice::Options::Sink::Null;
    platform::GstMediaDevice device(o);
    const std::string cut = write("cut.wav", Riff(Fmt() + Chunk("LIST", 26, "")));
    try {
        device.Open(cut);
        FAIL() << "a header cut short opened";
    } catch (const EMCIDeviceError& e) {
        EXPECT_NE(std::string(e.what()).find("cut short"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(device.IsOpen());
    // Sound cut short plays what there is, to its end.
    const std::string shortSound = write("short.wav", Riff(Fmt() + Chunk("data", 5000000, std::string(44100 * 4 / 10, '\x10'))));
    device.Open(shortSound);
    device.Play();
    EXPECT_TRUE(testwait::WaitUntil([&] { return device.AtEnd(); }, 5000));
}

}  // namespace
