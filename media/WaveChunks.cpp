#include "media/WaveChunks.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace media {
namespace {

std::uint32_t Le32(const std::string& b, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}

// Header chunks before the sound data are small; this much of the file is looked at.
constexpr std::size_t kLook = 1 << 20;

}  // namespace

std::string WaveHeaderFault(const std::string& bytes, std::uint64_t fileSize) {
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return {};
    std::uint64_t at = 12;
    while (at + 8 <= fileSize) {
        if (at + 8 > bytes.size()) return {};  // beyond what was looked at: the decoder judges
        const std::string id = bytes.substr(static_cast<std::size_t>(at), 4);
        const std::uint64_t size = Le32(bytes, static_cast<std::size_t>(at) + 4);
        // The sound data may be cut short: what there is plays.
        if (id == "data") return {};
        if (at + 8 + size > fileSize) return "the WAVE header is cut short in its \"" + id + "\" part";
        at += 8 + size + (size & 1);
    }
    return "the WAVE file holds no sound data";
}

std::string WaveFileFault(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    if (end < 0) return {};
    in.seekg(0);
    std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(end), kLook)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return WaveHeaderFault(bytes, static_cast<std::uint64_t>(end));
}

}  // namespace media
