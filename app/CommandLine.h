#pragma once
// The few options the program reads itself; every other argument is left to Qt or ignored.
#include <string>

struct CommandLine {
    enum class Action { Run, Help, Version };
    Action action = Action::Run;
    // --menu: started from the installed menu entry (working folder under the data folder).
    bool fromMenu = false;
    // Qt's own -platform and -display options, which decide where the windows go.
    bool platformGiven = false;
    std::string platform;
    bool displayGiven = false;
    std::string display;
};

// The first --help or --version wins; anything unknown is ignored.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The --help text, in Japanese when the messages locale (LC_ALL, LC_MESSAGES, LANG, the
// first one set) is Japanese, else in English.
std::string HelpText(const std::string& messagesLocale);
std::string MessagesLocale();
std::string VersionText();

// True when Qt would open an X display: -platform xcb; or no -platform, QT_QPA_PLATFORM unset
// or "xcb", and no Wayland display to go to. Only then can the program tell beforehand that
// no display is there.
bool NeedsXDisplay(const CommandLine& line, const char* qpaPlatform, const char* waylandDisplay);
// The display Qt would open: -display, else $DISPLAY (may be empty).
std::string DisplayName(const CommandLine& line, const char* displayEnv);
// The one line said when that display cannot be opened.
std::string CannotOpenDisplayLine(const std::string& display);

// What the start can tell about the platforms before Qt tries them.
struct PlatformFacts {
    std::string waylandDisplay;  // the compositor's name; empty: not a Wayland session
    bool waylandPlugin = false;  // Qt's Wayland platform is installed
    bool waylandReachable = false;
    std::string xDisplay;  // -display or $DISPLAY; may be empty
    bool xProbed = false;  // the two below were found out; else X is left to Qt
    bool xcbPlugin = false;
    bool xReachable = false;
};

struct PlatformChoice {
    // The list for QT_QPA_PLATFORM ("wayland;xcb"); empty: leave Qt's choice alone.
    std::string platforms;
    // Nothing can work: the one line to say before ending with 1.
    std::string failure;
};

// The platforms to start on: what -platform or QT_QPA_PLATFORM asks for, else the session's
// own first ("wayland;xcb" on a Wayland session, "xcb" elsewhere), each kept only where its
// plugin is installed and its display answers. Platforms other than these two are left to Qt.
PlatformChoice ChoosePlatform(const CommandLine& line, const char* qpaPlatform, const PlatformFacts& facts);
