#pragma once
// Short media files made with sox and ffmpeg (and a MIDI file written byte by byte), for
// the real-device tests and the benchmark.
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace mediamaker {

// Runs a tool to its end, at most a minute; true on exit code 0.
inline bool Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline QStringList Ffmpeg(const QString& out, double seconds, bool video, const QStringList& codecs) {
    const QString d = QString::number(seconds);
    QStringList a{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y")};
    if (video) a << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i") << QStringLiteral("testsrc=size=160x120:rate=25:duration=") + d;
    a << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i") << QStringLiteral("sine=frequency=440:sample_rate=44100:duration=") + d;
    a << codecs << out;
    return a;
}

// A one-note General MIDI file of about `seconds` (120 beats a minute, 96 ticks a beat).
inline bool WriteMidi(const std::string& path, double seconds) {
    const int ticks = static_cast<int>(seconds * 192);
    std::string track;
    auto var = [&track](int v) {
        unsigned char bytes[4];
        int n = 0;
        bytes[n++] = v & 0x7F;
        while ((v >>= 7) > 0) bytes[n++] = static_cast<unsigned char>((v & 0x7F) | 0x80);
        while (n > 0) track += static_cast<char>(bytes[--n]);
    };
    var(0);
    track += "\x90\x45\x64";  // note on, A4
    var(ticks);
    track += std::string("\x80\x45\x00", 3);
    var(0);
    track += std::string("\xFF\x2F\x00", 3);
    std::string file = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk";
    const auto len = static_cast<unsigned>(track.size());
    file += static_cast<char>(len >> 24);
    file += static_cast<char>(len >> 16);
    file += static_cast<char>(len >> 8);
    file += static_cast<char>(len);
    file += track;
    std::ofstream out(path, std::ios::binary);
    out << file;
    return static_cast<bool>(out);
}

// A short General MIDI piece as such files usually are: a piano playing chords, a bass, strings
// and drums (kick, snare, hi-hat) at ordinary velocities, 120 beats a minute, 96 ticks a beat,
// about `seconds` long.
inline bool WriteGeneralMidi(const std::string& path, double seconds) {
    struct Event {
        int tick;
        std::string bytes;
    };
    std::vector<Event> events;
    auto at = [&events](int tick, std::initializer_list<int> b) {
        std::string s;
        for (int v : b) s += static_cast<char>(v);
        events.push_back({tick, s});
    };
    at(0, {0xC0, 0});   // acoustic grand piano
    at(0, {0xC1, 33});  // finger bass
    at(0, {0xC2, 48});  // string ensemble
    const int beats = std::max(1, static_cast<int>(seconds * 2));
    const int chords[4][3] = {{60, 64, 67}, {57, 60, 64}, {53, 57, 60}, {55, 59, 62}};
    for (int beat = 0; beat < beats; ++beat) {
        const int t = beat * 96;
        const auto& chord = chords[(beat / 4) % 4];
        for (int n : chord) {
            at(t, {0x90, n, 80});
            at(t + 90, {0x80, n, 0});
        }
        at(t, {0x91, chord[0] - 24, 90});
        at(t + 90, {0x81, chord[0] - 24, 0});
        if (beat % 4 == 0)
            for (int n : chord) at(t, {0x92, n + 12, 70});
        if (beat % 4 == 3)
            for (int n : chord) at(t + 95, {0x82, n + 12, 0});
        at(t, {0x99, beat % 2 ? 38 : 36, 100});
        at(t + 48, {0x99, 42, 70});
        at(t, {0x99, 42, 80});
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.tick < b.tick; });
    std::string track;
    auto var = [&track](int v) {
        unsigned char bytes[4];
        int n = 0;
        bytes[n++] = v & 0x7F;
        while ((v >>= 7) > 0) bytes[n++] = static_cast<unsigned char>((v & 0x7F) | 0x80);
        while (n > 0) track += static_cast<char>(bytes[--n]);
    };
    int now = 0;
    for (const Event& e : events) {
        var(e.tick - now);
        now = e.tick;
        track += e.bytes;
    }
    var(beats * 96 - now);
    track += std::string("\xFF\x2F\x00", 3);
    std::string file = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk";
    const auto len = static_cast<unsigned>(track.size());
    for (int shift : {24, 16, 8, 0}) file += static_cast<char>(len >> shift);
    file += track;
    std::ofstream out(path, std::ios::binary);
    out << file;
    return static_cast<bool>(out);
}

// A 16-bit stereo WAV at 44.1 kHz: a 440 Hz sine of peak `left` on the left channel and a
// 660 Hz sine of peak `right` on the right (peaks as shares of full scale).
inline bool WriteStereoWav(const std::string& path, double seconds, double left, double right) {
    const std::uint32_t frames = static_cast<std::uint32_t>(seconds * 44100);
    std::string data;
    data.reserve(frames * 4);
    auto put16 = [&data](int v) {
        data += static_cast<char>(v & 0xFF);
        data += static_cast<char>((v >> 8) & 0xFF);
    };
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        put16(static_cast<int>(std::lround(std::sin(2 * M_PI * 440 * t) * left * 32767)));
        put16(static_cast<int>(std::lround(std::sin(2 * M_PI * 660 * t) * right * 32767)));
    }
    std::string h = "RIFF";
    auto put32 = [&h](std::uint32_t v) {
        for (int s : {0, 8, 16, 24}) h += static_cast<char>((v >> s) & 0xFF);
    };
    put32(36 + static_cast<std::uint32_t>(data.size()));
    h += "WAVEfmt ";
    put32(16);
    put32(1 | (2u << 16));  // PCM, two channels
    put32(44100);
    put32(44100 * 4);
    put32(4 | (16u << 16));  // block of 4 bytes, 16 bits a sample
    h += "data";
    put32(static_cast<std::uint32_t>(data.size()));
    std::ofstream out(path, std::ios::binary);
    out << h << data;
    return static_cast<bool>(out);
}

// `dir`/name.ext for one of "wav", "mp3", "mid", "mpg", "avi", "mov"; empty on failure.
inline std::string Make(const std::string& dir, const std::string& ext, double seconds, const std::string& name = "m") {
    const std::string path = dir + "/" + name + "." + ext;
    const QString out = QString::fromStdString(path);
    const QString ffmpeg = QStringLiteral("ffmpeg");
    bool ok = false;
    if (ext == "wav")
        ok = Run(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                                         QStringLiteral("2"), out, QStringLiteral("synth"), QString::number(seconds),
                                         QStringLiteral("sine"), QStringLiteral("440")});
    else if (ext == "mp3")
        ok = Run(ffmpeg, Ffmpeg(out, seconds, false, {QStringLiteral("-c:a"), QStringLiteral("libmp3lame"), QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-b:a"), QStringLiteral("128k")}));
    else if (ext == "mid")
        ok = WriteMidi(path, seconds);
    else if (ext == "mpg")
        ok = Run(ffmpeg, Ffmpeg(out, seconds, true, {QStringLiteral("-c:v"), QStringLiteral("mpeg1video"), QStringLiteral("-c:a"), QStringLiteral("mp2"), QStringLiteral("-f"), QStringLiteral("mpeg")}));
    else if (ext == "avi")
        ok = Run(ffmpeg, Ffmpeg(out, seconds, true, {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}));
    else if (ext == "mov")
        ok = Run(ffmpeg, Ffmpeg(out, seconds, true, {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:a"), QStringLiteral("aac")}));
    return ok ? path : std::string();
}

}  // namespace mediamaker
