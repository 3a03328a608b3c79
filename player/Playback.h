#pragma once
// The rules of activation, the remaining display and the volume, free of widgets.
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace player {

// From the last dot of the file name (dot included), letters a-z upper-cased; empty when
// the name has no dot.
std::string ExtensionKey(const std::string& path);

// An entry naming one of the program's own result-store files.
inline bool IsStoreEntry(const std::string& path) { return path.find("SearchView") != std::string::npos; }

// `value` as "#,##0.0": thousands separators, at least one integer digit, one decimal.
QString FormatShare(double value);

// The remaining display for a position and length in milliseconds. A length of 0 (a medium
// that does not know its length) reads as a file at its start until it has moved, then as
// ended, so continuous play neither divides by zero nor waits for ever.
QString RemainingText(std::int64_t position, std::int64_t length);

// "残り0.0%", or any text with "残り-": the medium has ended.
bool IsFinishedText(const QString& text);
// "残り100.0%": a medium stands at its start.
bool IsAtStartText(const QString& text);

// The wave-out value for the left and right bars (position 0 loudest, 127 silent).
std::uint32_t VolumeValue(int leftPosition, int rightPosition);

// What activation does for an extension.
enum class LaunchKind { None, Media, Jpeg, Picture, Program, ConfirmedProgram };
struct Launch {
    LaunchKind kind = LaunchKind::None;
    // Command lines: the second is tried only when the first fails.
    std::vector<std::string> commands;
};
Launch LaunchFor(const std::string& extension, const std::string& path);

// Counts the item activations so far: a picture load begun under one count is stale once it
// has changed, since the user has moved on to another item.
unsigned ActivationCount();

}  // namespace player
