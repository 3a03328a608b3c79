#pragma once
// Starting external programs by command line (WinExec with SW_SHOW).
#include <string>

namespace platform {

class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // A result of 32 or more is success; below 32 a failure (2: program not found).
    virtual unsigned WinExec(const std::string& commandLine, int show) = 0;
};

}  // namespace platform
