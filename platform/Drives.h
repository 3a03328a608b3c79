#pragma once
// The fixed disks to search, and find-first/find-next over one folder.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Drives {
public:
    virtual ~Drives() = default;
    // Root folders of the fixed disks in search order, each ending with the separator.
    virtual std::vector<std::string> FixedDrives() = 0;
};

class FakeDrives : public Drives {
public:
    std::vector<std::string> FixedDrives() override { return roots; }
    std::vector<std::string> roots;
};

}  // namespace platform
