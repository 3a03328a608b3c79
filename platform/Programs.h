#pragma once
// Starting external programs by command line (WinExec with SW_SHOW).
#include <deque>
#include <string>
#include <vector>

namespace platform {

class ProgramStarter {
public:
    virtual ~ProgramStarter() = default;
    // A result of 32 or more is success; below 32 a failure (2: program not found).
    virtual unsigned WinExec(const std::string& commandLine, int show) = 0;
};

// Records every command line; results are scripted in order, then `fallback`.
class FakeProgramStarter : public ProgramStarter {
public:
    unsigned WinExec(const std::string& commandLine, int show) override {
        started.push_back(commandLine);
        shows.push_back(show);
        if (results.empty()) return fallback;
        unsigned r = results.front();
        results.pop_front();
        return r;
    }
    std::vector<std::string> started;
    std::vector<int> shows;
    std::deque<unsigned> results;
    unsigned fallback = 33;
};

}  // namespace platform
