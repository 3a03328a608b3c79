#include "app/CommandLine.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#ifndef TESSALY_VERSION
#define TESSALY_VERSION "unknown"
#endif

namespace {

bool Is(const char* arg, const char* option) {
    // Qt takes its own options with one dash or two.
    if (arg[0] == '-' && arg[1] == '-' && std::strcmp(arg + 1, option) == 0) return true;
    return std::strcmp(arg, option) == 0;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    bool decided = false;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char* arg = argv[i];
        if (!decided && std::strcmp(arg, "--help") == 0) {
            line.action = CommandLine::Action::Help;
            decided = true;
        } else if (!decided && std::strcmp(arg, "--version") == 0) {
            line.action = CommandLine::Action::Version;
            decided = true;
        } else if (std::strcmp(arg, "--menu") == 0) {
            line.fromMenu = true;
        } else if (Is(arg, "-platform") && i + 1 < argc && argv[i + 1]) {
            line.platformGiven = true;
            line.platform = argv[++i];
        } else if (Is(arg, "-display") && i + 1 < argc && argv[i + 1]) {
            line.displayGiven = true;
            line.display = argv[++i];
        }
    }
    return line;
}

std::string MessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v && *v) return v;
    }
    return {};
}

std::string HelpText(const std::string& messagesLocale) {
    if (messagesLocale.rfind("ja", 0) == 0) {
        return "使い方: tessaly [--menu]\n"
               "固定ディスクのメディアファイルを検索して一覧に保存し、再生・表示し、\n"
               "音楽サイトから曲をダウンロードします。\n"
               "\n"
               "作業フォルダ（検索結果の一覧、header.txt、temp、ダウンロードした曲）:\n"
               "自動起動に登録したフォルダ、なければ --menu のとき $XDG_DATA_HOME/tessaly\n"
               "（既定 ~/.local/share/tessaly）、それ以外は起動したフォルダ。\n"
               "\n"
               "  --menu     メニューから起動したものとして作業フォルダを決める\n"
               "  --help     この説明を表示して終了する\n"
               "  --version  版を表示して終了する\n"
               "\n"
               "環境変数: TESSALY_DRIVES（検索するフォルダを ':' で区切る）、\n"
               "TESSALY_SITE（音楽サイトの host:port）。詳しくは tessaly(1)。\n";
    }
    return "Usage: tessaly [--menu]\n"
           "Finds media files on the fixed disks and keeps the result lists, plays and shows\n"
           "what it found, and downloads songs from the music site.\n"
           "\n"
           "Working folder (result lists, header.txt, temp, downloaded songs): the folder\n"
           "registered for autostart; else, with --menu, $XDG_DATA_HOME/tessaly (by default\n"
           "~/.local/share/tessaly); else the folder it is started in.\n"
           "\n"
           "  --menu     choose the working folder as when started from the menu\n"
           "  --help     show this text and exit\n"
           "  --version  show the version and exit\n"
           "\n"
           "Environment: TESSALY_DRIVES (folders to search, separated by ':'),\n"
           "TESSALY_SITE (host:port of the music site). See tessaly(1).\n";
}

std::string VersionText() { return "Tessaly " TESSALY_VERSION "\n"; }

bool NeedsXDisplay(const CommandLine& line, const char* qpaPlatform, const char* waylandDisplay) {
    if (line.platformGiven) return line.platform == "xcb";
    if (qpaPlatform && *qpaPlatform) return std::strcmp(qpaPlatform, "xcb") == 0;
    return !(waylandDisplay && *waylandDisplay);
}

std::string DisplayName(const CommandLine& line, const char* displayEnv) {
    if (line.displayGiven) return line.display;
    return displayEnv ? displayEnv : "";
}

std::string CannotOpenDisplayLine(const std::string& display) {
    if (display.empty()) return "tessaly: cannot open display (DISPLAY is not set)";
    return "tessaly: cannot open display \"" + display + "\"";
}

namespace {

std::vector<std::string> SplitPlatforms(const std::string& list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t end = std::min(list.find(';', start), list.size());
        if (end > start) out.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace

PlatformChoice ChoosePlatform(const CommandLine& line, const char* qpaPlatform, const PlatformFacts& facts) {
    std::string requested;
    if (line.platformGiven)
        requested = line.platform;
    else if (qpaPlatform && *qpaPlatform)
        requested = qpaPlatform;
    else
        requested = facts.waylandDisplay.empty() ? "xcb" : "wayland;xcb";
    std::vector<std::string> usable;
    std::string waylandWhy, xWhy;
    for (const std::string& entry : SplitPlatforms(requested)) {
        const std::string name = entry.substr(0, entry.find(':'));  // "xcb:options"
        if (name.rfind("wayland", 0) == 0) {
            const std::string shown = facts.waylandDisplay.empty() ? "wayland-0" : facts.waylandDisplay;
            if (!facts.waylandPlugin)
                waylandWhy = "Wayland \"" + shown + "\": Qt's Wayland platform plugin is not installed (qt6-wayland)";
            else if (!facts.waylandReachable)
                waylandWhy = "Wayland \"" + shown + "\": no compositor answers";
            else
                usable.push_back(entry);
        } else if (name == "xcb") {
            if (!facts.xProbed)
                usable.push_back(entry);
            else if (!facts.xcbPlugin)
                xWhy = "X: Qt's X11 platform plugin is not installed (qt6-qpa-plugins)";
            else if (!facts.xReachable)
                xWhy = facts.xDisplay.empty() ? "DISPLAY is not set" : "X \"" + facts.xDisplay + "\" does not open";
            else
                usable.push_back(entry);
        } else {
            usable.push_back(entry);
        }
    }
    PlatformChoice choice;
    if (usable.empty()) {
        // Only X was asked for: the line as it has always been.
        if (waylandWhy.empty() && facts.xcbPlugin) return {{}, CannotOpenDisplayLine(facts.xDisplay)};
        std::string why = waylandWhy;
        if (!xWhy.empty()) why += (why.empty() ? "" : "; ") + xWhy;
        if (why.empty()) why = "no platform in \"" + requested + "\"";
        choice.failure = "tessaly: cannot open display (" + why + ")";
        return choice;
    }
    // Qt's own -platform wins over the variable; the variable then only narrows the list.
    if (!line.platformGiven) {
        for (const std::string& p : usable) choice.platforms += (choice.platforms.empty() ? "" : ";") + p;
    }
    return choice;
}
