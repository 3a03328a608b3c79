#pragma once
// TESSALY_DRIVES set for the life of a scope, the value before put back after.
#include <cstdlib>
#include <string>

class EnvDrives {
public:
    explicit EnvDrives(const std::string& value) {
        const char* old = std::getenv("TESSALY_DRIVES");
        had_ = old != nullptr;
        if (old) saved_ = old;
        setenv("TESSALY_DRIVES", value.c_str(), 1);
    }
    ~EnvDrives() {
        if (had_)
            setenv("TESSALY_DRIVES", saved_.c_str(), 1);
        else
            unsetenv("TESSALY_DRIVES");
    }
    EnvDrives(const EnvDrives&) = delete;
    EnvDrives& operator=(const EnvDrives&) = delete;

private:
    bool had_ = false;
    std::string saved_;
};
