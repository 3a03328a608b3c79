#pragma once
// How much the resident memory of this process grows at its peak while a piece of work runs:
// the kernel's peak mark is reset before it, then read after it.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

namespace peakmemory {

// A field of /proc/self/status in KiB, -1 when missing.
inline long StatusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// KiB the peak resident memory rose above the memory in use before `work`.
inline long GrowthKiB(const std::function<void()>& work) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from what is in use
    const long before = StatusKiB("VmRSS:");
    work();
    return StatusKiB("VmHWM:") - before;
}

}  // namespace peakmemory
