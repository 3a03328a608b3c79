#pragma once
// The one registry key the program uses: HKCU\Software\Microsoft\Windows\CurrentVersion,
// read and written as sections and string values.
#include <map>
#include <string>

namespace platform {

// The autostart value: a double quote, the folder, the separator and "kdr.exe", a double
// quote. The same value names the working folder of the next start.
std::string AutostartValue(const std::string& folder);
// The folder of an autostart value: the value without its first character and its last
// nine. The value is not checked; one of ten characters or fewer gives an empty folder.
std::string AutostartFolder(const std::string& value);

// A value as a desktop entry stores a string: backslash, line breaks and tabs escaped.
std::string DesktopEntryString(const std::string& s);
// One argument of a desktop entry's Exec line, quoted and escaped so that launchers pass it
// on byte for byte.
std::string DesktopExecArgument(const std::string& arg);

class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    virtual std::string ReadString(const std::string& section, const std::string& name,
                                   const std::string& fallback) = 0;
    // Raises Exception when the value cannot be stored.
    virtual void WriteString(const std::string& section, const std::string& name,
                             const std::string& value) = 0;
};

// A small key/value file in `folder` ("registry"). Writing the autostart value (section
// "Run", name "_KDR_") also writes an XDG autostart entry into `autostartFolder`, so that the
// registration really starts the program at log-on; `program` is the command it starts.
class FileRegistry : public RegistryStore {
public:
    FileRegistry(std::string folder, std::string autostartFolder, std::string program);

    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& fallback) override;
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value) override;

    std::string StorePath() const { return folder_ + "/registry"; }
    std::string AutostartPath() const { return autostart_ + "/tessaly.desktop"; }

    // Folders under $XDG_CONFIG_HOME (or ~/.config) for the real program.
    static FileRegistry ForCurrentUser(const std::string& program);

private:
    std::map<std::string, std::string> Load() const;
    void WriteAutostart(const std::string& runValue) const;

    std::string folder_;
    std::string autostart_;
    std::string program_;
};

}  // namespace platform
