#pragma once
// Which folder the program works in: result lists, the catalogue, "temp" and the songs all
// land there.
#include <string>

#include "platform/Registry.h"

namespace platform {

// How the program was started, as far as its working folder goes. A desktop menu starts
// programs in the home folder (a desktop entry cannot name it), where the program's files
// would lie among the user's own; the installed menu entry passes --menu to say so.
enum class StartPlace { Here, Menu };

void SetStartPlace(StartPlace place);
StartPlace CurrentStartPlace();

// $XDG_DATA_HOME/tessaly; without an absolute XDG_DATA_HOME, ~/.local/share/tessaly.
std::string MenuWorkFolder();

// Moves the process into the folder it works in and returns it: the folder the autostart
// registration names wins; else, started from the menu, MenuWorkFolder() (created when
// missing); else the folder it was started in. A folder that cannot be entered or made
// raises EInOutError ("I/O エラー (code)"); the current folder then stays as it was, except
// that from the menu a registered folder that has gone still leads to the data folder.
std::string SettleWorkFolder(RegistryStore& registry, StartPlace place);

}  // namespace platform
