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
