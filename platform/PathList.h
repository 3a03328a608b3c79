#pragma once
// A list of folder paths kept as bytes in one buffer: tens of thousands of folders per
// level cost one allocation, not one each.
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class PathList {
public:
    int Count() const { return static_cast<int>(ends_.size()); }
    std::string_view At(int i) const {
        size_t begin = i == 0 ? 0 : ends_[static_cast<size_t>(i) - 1];
        return std::string_view(bytes_).substr(begin, ends_[static_cast<size_t>(i)] - begin);
    }
    void Add(std::string_view a, std::string_view b = {}, std::string_view c = {}) {
        bytes_.append(a).append(b).append(c);
        ends_.push_back(bytes_.size());
    }
    void Clear() {
        bytes_.clear();
        ends_.clear();
    }
    void Swap(PathList& other) {
        bytes_.swap(other.bytes_);
        ends_.swap(other.ends_);
    }

private:
    std::string bytes_;
    std::vector<size_t> ends_;
};

}  // namespace platform
