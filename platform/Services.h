#pragma once
// The platform services in use: the real ones in the program, fakes in tests.
#include <concepts>
#include <memory>
#include <string>

#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "platform/Input.h"
#include "platform/Media.h"
#include "platform/MessageBoxes.h"
#include "platform/Printing.h"
#include "platform/Programs.h"
#include "platform/Registry.h"

namespace platform {

// Says on standard error which slot was used empty and aborts. An empty slot is a set-up
// fault: a test that forgot its stand-in must not quietly get the real sound device, X
// display or modal box, and the program installs every service before its first window.
[[noreturn]] void EmptyServiceSlot(const char* name);

// One service of the program: owns it like a unique_ptr, and reaching through it while it
// is empty fails loudly, naming the slot.
template <class T>
class ServiceSlot {
public:
    explicit ServiceSlot(const char* name) : name_(name) {}
    ServiceSlot(ServiceSlot&& other) noexcept : name_(other.name_), p_(std::move(other.p_)) {}
    ServiceSlot& operator=(ServiceSlot&& other) noexcept {
        p_ = std::move(other.p_);
        return *this;
    }
    template <class U>
        requires std::convertible_to<U*, T*>
    ServiceSlot& operator=(std::unique_ptr<U>&& p) noexcept {
        p_ = std::move(p);
        return *this;
    }
    ServiceSlot& operator=(std::nullptr_t) noexcept {
        p_.reset();
        return *this;
    }
    // Hands the service over, leaving the slot empty (to put it back later).
    operator std::unique_ptr<T>() && noexcept { return std::move(p_); }

    T& operator*() const { return Get(); }
    T* operator->() const { return &Get(); }
    // The service, or null while the slot is empty; never fails.
    T* get() const noexcept { return p_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(p_); }
    void reset() noexcept { p_.reset(); }
    const char* Name() const noexcept { return name_; }

private:
    T& Get() const {
        if (!p_) EmptyServiceSlot(name_);
        return *p_;
    }
    const char* name_;
    std::unique_ptr<T> p_;
};

struct Services {
    ServiceSlot<MessageBoxes> boxes{"boxes"};
    ServiceSlot<RegistryStore> registry{"registry"};
    ServiceSlot<Desktop> desktop{"desktop"};
    ServiceSlot<Drives> drives{"drives"};
    ServiceSlot<KeyState> keys{"keys"};
    ServiceSlot<MediaDevice> media{"media"};
    ServiceSlot<WaveOut> waveOut{"waveOut"};
    ServiceSlot<ProgramStarter> programs{"programs"};
    ServiceSlot<Printing> printing{"printing"};
};

// The services every handler calls. Slots start empty: the program installs the real
// services at start, tests their stand-ins (or a real one where that is what they test).
Services& Current();
// Installs the real services (app/SystemServices.cpp), replacing whatever was installed.
void InstallSystemServices(const std::string& programPath);

}  // namespace platform
