#include "platform/Registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Exceptions.h"
#include "platform/Files.h"

namespace platform {
namespace {

// One line per value: "section\name<TAB>value", with \, TAB and line breaks escaped.
std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char n = s[++i];
        out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    }
    return out;
}

std::string Key(const std::string& section, const std::string& name) {
    return Escape(section) + "\\" + Escape(name);
}

[[noreturn]] void WriteFailed(const std::string& name) {
    throw Exception("値 '" + name + "' のデータを設定できませんでした");
}

}  // namespace

std::string DesktopEntryString(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    // A leading space would be taken for the space around "=".
    if (!out.empty() && out[0] == ' ') out.replace(0, 1, "\\s");
    return out;
}

std::string DesktopExecArgument(const std::string& arg) {
    // Inside double quotes ", `, $ and \ take a backslash; the value is then escaped as any
    // string value (so a backslash ends up doubled twice), and "%" is doubled so that it is
    // not read as a field code.
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : DesktopEntryString(quoted)) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

std::string AutostartValue(const std::string& folder) { return "\"" + JoinPath(folder, "kdr.exe") + "\""; }

std::string AutostartFolder(const std::string& value) {
    return value.size() > 10 ? value.substr(1, value.size() - 10) : std::string();
}

FileRegistry::FileRegistry(std::string folder, std::string autostartFolder, std::string program)
    : folder_(std::move(folder)), autostart_(std::move(autostartFolder)), program_(std::move(program)) {}

FileRegistry FileRegistry::ForCurrentUser(const std::string& program) {
    std::string config;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
        config = x;
    } else {
        const char* home = std::getenv("HOME");
        config = std::string(home && *home ? home : "/tmp") + "/.config";
    }
    return FileRegistry(config + "/tessaly", config + "/autostart", program);
}

std::map<std::string, std::string> FileRegistry::Load() const {
    std::map<std::string, std::string> values;
    std::ifstream in(StorePath(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        auto tab = line.find('\t');
        if (tab == std::string::npos) continue;
        values[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return values;
}

std::string FileRegistry::ReadString(const std::string& section, const std::string& name,
                                     const std::string& fallback) {
    auto values = Load();
    auto it = values.find(Key(section, name));
    return it == values.end() ? fallback : Unescape(it->second);
}

void FileRegistry::WriteString(const std::string& section, const std::string& name,
                               const std::string& value) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    auto values = Load();
    values[Key(section, name)] = Escape(value);
    // A new file, on the disk before it is moved onto the old one: whenever the process or the
    // machine stops, the file holds the old values or the new ones, never none.
    std::string content;
    for (const auto& [k, v] : values) content += k + '\t' + v + '\n';
    try {
        ReplaceFileContents(StorePath(), content);
    } catch (const EInOutError&) {
        WriteFailed(name);
    }
    if (section == "Run" && name == "_KDR_") WriteAutostart(value);
}

void FileRegistry::WriteAutostart(const std::string& runValue) const {
    // The entry starts this program in the folder the value names.
    const std::string folder = AutostartFolder(runValue);
    std::error_code ec;
    std::filesystem::create_directories(autostart_, ec);
    std::ofstream out(AutostartPath(), std::ios::binary | std::ios::trunc);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Tessaly\n"
        << "Icon=tessaly\n"
        << "Exec=" << DesktopExecArgument(program_) << "\n"
        // Once the program is removed the desktop passes the entry over instead of failing.
        << "TryExec=" << DesktopEntryString(program_) << "\n"
        << "Path=" << DesktopEntryString(folder) << "\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    if (!out) WriteFailed("_KDR_");
}

}  // namespace platform
