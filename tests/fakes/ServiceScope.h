#pragma once
// A service put in its slot for the life of a scope, the one it replaced put back after.
#include <memory>
#include <utility>

#include "platform/Services.h"

template <class T>
class ServiceScope {
public:
    template <class U>
    ServiceScope(platform::ServiceSlot<T>& slot, std::unique_ptr<U> service)
        : slot_(slot), saved_(std::move(slot)) {
        slot_ = std::move(service);
    }
    ~ServiceScope() { slot_ = std::move(saved_); }
    ServiceScope(const ServiceScope&) = delete;
    ServiceScope& operator=(const ServiceScope&) = delete;

private:
    platform::ServiceSlot<T>& slot_;
    std::unique_ptr<T> saved_;
};
