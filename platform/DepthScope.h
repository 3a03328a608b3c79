#pragma once
// A counter of calls that are still running, for code that an event loop may re-enter.
namespace platform {

// Counts one call for as long as the object lives, also when the call throws: a handler that
// runs inside a wait of that call sees the count above 0 and knows not to start another or
// tear down what the call still uses.
class DepthScope {
public:
    explicit DepthScope(int& depth) : depth_(depth) { ++depth_; }
    ~DepthScope() { --depth_; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;

private:
    int& depth_;
};

}  // namespace platform
