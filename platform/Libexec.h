#pragma once
// The program's own files that are not its main program: the picture helper and the media
// module, built beside the program and installed in the libexec folder.
#include <string>

namespace platform {

// `name` beside the running program (the build tree), else in the libexec folder found
// from the program's folder (a package installed under another prefix than configured),
// else in the configured libexec folder; the first that is a plain file and, when asked,
// executable. Empty when there is none.
std::string LibexecFile(const std::string& name, bool executable);

}  // namespace platform
