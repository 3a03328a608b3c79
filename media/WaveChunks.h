#pragma once
// A look at a RIFF WAVE file's chunks before the decoder gets it: a file cut inside its
// header (a chunk before the sound data running past the end) sends the decoder round in a
// loop at full speed, so such a file is refused as broken.
#include <cstdint>
#include <string>

namespace media {

// Empty when `bytes` (the file's start, `fileSize` bytes in all) is no RIFF WAVE file or one
// whose chunks lead to its sound data; otherwise why it cannot be played.
std::string WaveHeaderFault(const std::string& bytes, std::uint64_t fileSize);

// The same for the file at `path`; empty also when it cannot be read (the decoder says why).
std::string WaveFileFault(const std::string& path);

}  // namespace media
