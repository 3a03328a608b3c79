#pragma once
// Starting the launch table's programs on Linux: the Windows command lines map to the
// programs a Linux desktop has for the same purpose.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Programs.h"

namespace platform {

struct ProgramCall {
    std::string program;
    std::vector<std::string> arguments;
    bool operator==(const ProgramCall&) const = default;
};

// Finds an executable by name on the search path, or checks a full path; empty when none.
using ProgramLookup = std::function<std::string(const std::string& nameOrPath)>;

// The Linux program and arguments for a Windows command line, or nothing when no program is
// there to start it. The text after the program name is one argument (the launch table
// appends paths unquoted, spaces included, and they must arrive whole), except for programs
// of our own naming.
std::optional<ProgramCall> MapCommandLine(const std::string& commandLine, const ProgramLookup& lookup);

// Starts the program detached, its arguments passed as they are; false when it could not be
// executed.
bool StartDetached(const ProgramCall& call);

// The search-path lookup of the running system.
std::string FindProgram(const std::string& nameOrPath);

class LinuxProgramStarter : public ProgramStarter {
public:
    // The show flag has no Linux counterpart: programs open their window as they do.
    unsigned WinExec(const std::string& commandLine, int show) override;
};

}  // namespace platform
