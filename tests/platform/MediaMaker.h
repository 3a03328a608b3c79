#pragma once
// Short media files made with sox and ffmpeg (and a MIDI file written byte by byte), for
// the real-device tests and the benchmark.
#include <QProcess>
#include <QStringList>
#include <fstream>
#include <string>

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
