#pragma once
// The stored result lists: one text file of full paths per extension in the working folder,
// and the download log, which has the same form.
#include <functional>
#include <string>

namespace store {

// Letters a-z upper-cased, every other byte unchanged.
std::string UpperAscii(std::string text);
std::string LowerAscii(std::string text);

// The extension of a text: from its last "." to the end, unless a folder separator or ":"
// follows that dot; empty otherwise.
std::string ExtensionOf(const std::string& text);

// "SearchView" followed by the upper-cased extension of the box text. Every spelling of one
// extension gives the same name, and so the same file.
std::string StoredListName(const std::string& boxText);

// `name` in `dir`, matched without regard to letter case: an existing file whose name
// differs only in case is the one meant; otherwise the name as given.
std::string ResolveInFolder(const std::string& dir, const std::string& name);

// The full path of the result-store file of a box text in `workDir`.
std::string StoredListPath(const std::string& workDir, const std::string& boxText);

// The download log's name, relative to the current folder.
inline constexpr const char* kDownloadLogName = "SearchView.dwn";

// Writes `count` lines, line i being `line(i)`, each followed by CR LF, as the file of that
// name: the name shows the whole new list once it is on the disk, and never a part of it.
// On failure no list of that name is left, and no temporary file.
void WriteList(const std::string& path, int count, const std::function<std::string(int)>& line);

// Reads the lines of a stored list; with a keyword only the lines that contain it, both
// lowered in ASCII before the comparison. With `wholeLinesOnly` a last line that no line
// break ends is left out (see AppendLine). A line longer than any path (a damaged or foreign
// file, gigabytes of NUL bytes) is read past and the lines after it follow: memory and time
// go with the lines kept, not with the file's size.
void ReadList(const std::string& path, const std::string* keyword,
              const std::function<void(const std::string&)>& onLine, bool wholeLinesOnly = false);

// True when the path's file name is the download log's, in any letter case.
bool IsDownloadLog(const std::string& path);

// Appends `line` and CR LF to the file, creating it when missing, in one write that is on the
// disk when this returns. A failed append leaves the file at its former length. Part of a line
// that an earlier append left when it was cut off (a kill, a power cut) is removed first.
void AppendLine(const std::string& path, const std::string& line);

bool ContainsIgnoringAsciiCase(const std::string& line, const std::string& lowerKeyword);

}  // namespace store
