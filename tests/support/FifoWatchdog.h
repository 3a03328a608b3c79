#pragma once
// Keeps a test that wrongly opens a FIFO from hanging: after a grace period it opens the
// FIFO for writing again and again (each open wakes a blocked reader) until destroyed.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class FifoWatchdog {
public:
    explicit FifoWatchdog(std::string fifo, std::chrono::seconds grace = std::chrono::seconds(10))
        : fifo_(std::move(fifo)), thread_([this, grace] { Run(grace); }) {}
    ~FifoWatchdog() {
        {
            std::lock_guard<std::mutex> lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

private:
    void Run(std::chrono::seconds grace) {
        std::unique_lock<std::mutex> lock(m_);
        if (cv_.wait_for(lock, grace, [this] { return done_; })) return;
        do {
            const int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        } while (!cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; }));
    }
    std::string fifo_;
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};
