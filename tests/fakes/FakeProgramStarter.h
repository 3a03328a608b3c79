#pragma once
// Test double of starting external programs.
#include <deque>
#include <string>
#include <vector>

#include "platform/Programs.h"

namespace platform {

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
