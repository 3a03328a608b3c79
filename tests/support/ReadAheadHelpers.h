#pragma once
// What the read-ahead tests share: a walk recorder, a count of the helper threads that
// exist, and folders that even root cannot read.
#include <dirent.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "search/LevelWalk.h"

namespace readahead_test {

// Threads of this process that the read-ahead named as its helpers.
inline int HelperThreads() {
    int n = 0;
    DIR* d = ::opendir("/proc/self/task");
    if (!d) return -1;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == "tessaly-ahead") ++n;
    }
    ::closedir(d);
    return n;
}

// Takes the permission-bypassing capabilities out of this thread's effective set (threads
// it starts inherit that), so that a folder without read permission is unreadable also
// when the tests run as root. Put back at the end of the scope.
class WithoutPermissionBypass {
public:
    WithoutPermissionBypass() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, saved_, sizeof reduced);
        reduced[0].effective &= ~(CAP_TO_MASK(CAP_DAC_OVERRIDE) | CAP_TO_MASK(CAP_DAC_READ_SEARCH));
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutPermissionBypass() {
        if (active_) ::syscall(SYS_capset, &header_, saved_);
    }
    WithoutPermissionBypass(const WithoutPermissionBypass&) = delete;
    WithoutPermissionBypass& operator=(const WithoutPermissionBypass&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// Whether opening `folder` for reading fails as a permission error, as the case needs.
inline bool DeniedToUs(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (d) {
        ::closedir(d);
        return false;
    }
    return errno == EACCES;
}

// Waits until the file system's clock (which may move in ticks) has passed the present
// moment, so that a change made now gets a time later than any stamp taken before.
inline void LetTheFileClockTick() {
    timespec res{}, now{};
    ::clock_getres(CLOCK_REALTIME_COARSE, &res);
    ::clock_gettime(CLOCK_REALTIME, &now);
    long long until = now.tv_sec * 1000000000LL + now.tv_nsec + res.tv_sec * 1000000000LL + res.tv_nsec + 1000000;
    timespec t{static_cast<time_t>(until / 1000000000LL), static_cast<long>(until % 1000000000LL)};
    while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

// Records what a walk reports; `onFolder` runs at each folder of the matches pass.
class RecordingSink : public search::WalkSink {
public:
    void BeginMatchesPass(int) override { ++level; }
    void MatchesFolder(int index, std::string_view folder) override {
        folders.emplace_back(folder);
        if (onFolder) onFolder(level, index, folder);
    }
    void Match(std::string_view path) override { matches.emplace_back(path); }
    void EndMatchesPass() override {}
    void BeginSubfolderPass(int) override {}
    void SubfolderFolder(int, std::string_view) override {}
    void SubfolderEntries(int) override {}
    bool Cancelled() override { return cancel; }

    int level = -1;
    bool cancel = false;
    std::vector<std::string> folders, matches;
    std::function<void(int level, int index, std::string_view folder)> onFolder;
};

// Indexes of the present level that the helpers have read; waits are bounded.
class ReadLog {
public:
    void Add(int index) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            read_.insert(index);
        }
        changed_.notify_all();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        read_.clear();
    }
    bool WaitFor(const std::vector<int>& indexes) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            for (int i : indexes)
                if (!read_.count(i)) return false;
            return true;
        });
    }
    bool WaitForCount(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return read_.size() >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<int> read_;
};

}  // namespace readahead_test
