#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "remote/key_table.h"

namespace bench {

// Reads the device side on a thread of its own, so a byte is seen the moment it is readable
// and not when the window's thread next looks.
class FrameWatcher {
public:
    explicit FrameWatcher(int master) : master_(master), thread_([this] { run(); }) {}
    ~FrameWatcher() {
        stop_ = true;
        thread_.join();
    }

    // How many whole frames have arrived so far.
    std::size_t frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_.size();
    }

    // When frame `index` (counted from 0) was complete, or nothing within `wait`.
    bool frameTime(std::size_t index, std::chrono::milliseconds wait, Clock::time_point& at) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, wait, [&] { return done_.size() > index; })) {
            return false;
        }
        at = done_[index];
        return true;
    }

private:
    void run() {
        std::size_t bytes = 0;
        unsigned char buffer[256];
        while (!stop_) {
            pollfd pfd{master_, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) {
                continue;
            }
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            const auto now = Clock::now();
            const std::size_t before = bytes / remote::CommandFrame::kSize;
            bytes += static_cast<std::size_t>(n);
            const std::size_t after = bytes / remote::CommandFrame::kSize;
            if (after > before) {
                std::lock_guard<std::mutex> lock(mutex_);
                done_.insert(done_.end(), after - before, now);
                arrived_.notify_all();
            }
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Clock::time_point> done_;
    std::thread thread_;
};

}  // namespace bench
