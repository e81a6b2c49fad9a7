// From a mouse click on a key of the remote to the fifth byte of its frame readable on the
// device's side of the line.
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "app/key_hotspot.h"
#include "bench_common.h"
#include "bench_window.h"
#include "remote/key_table.h"

namespace {

// Reads the device side on a thread of its own, so a byte is seen the moment it is readable
// and not when the window's thread next looks.
class FrameWatcher {
public:
    explicit FrameWatcher(int master) : master_(master), thread_([this] { run(); }) {}
    ~FrameWatcher() {
        stop_ = true;
        thread_.join();
    }

    // When frame `index` (counted from 0) was complete, or nothing within `wait`.
    bool frameTime(std::size_t index, std::chrono::milliseconds wait,
                   bench::Clock::time_point& at) {
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
            const auto now = bench::Clock::now();
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
    std::vector<bench::Clock::time_point> done_;
    std::thread thread_;
};

// What `pauses` 1 ms pauses take on this machine: no click can beat that. The fifth byte
// goes out after four of them, and the handler returns after the fifth.
double pausesFloorMs(std::size_t pauses) {
    std::vector<double> samples;
    for (int i = 0; i < 50; ++i) {
        const auto start = bench::Clock::now();
        for (std::size_t b = 0; b < pauses; ++b) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        samples.push_back(bench::msBetween(start, bench::Clock::now()));
    }
    return bench::summarize(samples).median;
}

}  // namespace

int main(int argc, char** argv) {
    bench::preferOffscreenPlatform();
    QApplication application(argc, argv);
    const int clicks = static_cast<int>(bench::numberOption(argc, argv, "--clicks", 300));

    bench::WindowOnPty window;
    if (!window.open()) {
        std::fprintf(stderr, "the port did not open on %s\n", window.device.path().c_str());
        return 1;
    }
    window.device.drain();
    FrameWatcher watcher(window.device.master());

    std::vector<app::KeyHotspot*> keys;
    for (const remote::RemoteKey& key : remote::RemoteKeyTable) {
        if (!key.isReserved()) {
            keys.push_back(window.form.findChild<app::KeyHotspot*>(
                QStringLiteral("Image%1").arg(key.hotspot)));
        }
    }

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> gapMs(3, 25);
    std::vector<double> toFifthByte;
    std::vector<double> toHandlerReturn;
    int lost = 0;
    for (int i = 0; i < clicks; ++i) {
        // Irregular gaps let the window's own timers land anywhere relative to a click.
        bench::runEventLoop(gapMs(random));
        app::KeyHotspot* key = keys[static_cast<std::size_t>(i) % keys.size()];
        const auto start = bench::Clock::now();
        QTest::mouseClick(key, Qt::LeftButton);
        const auto returned = bench::Clock::now();
        bench::Clock::time_point fifth;
        if (!watcher.frameTime(static_cast<std::size_t>(i - lost), std::chrono::seconds(1),
                               fifth)) {
            ++lost;
            continue;
        }
        toFifthByte.push_back(bench::msBetween(start, fifth));
        toHandlerReturn.push_back(bench::msBetween(start, returned));
    }

    std::printf("clicks: %d, frames not seen on the line: %d\n", clicks, lost);
    bench::printSummary("click_to_fifth_byte_ms", bench::summarize(toFifthByte));
    bench::printSummary("click_handler_ms", bench::summarize(toHandlerReturn));
    bench::printValue("fifth_byte_floor_ms", pausesFloorMs(remote::CommandFrame::kSize - 1));
    bench::printValue("click_handler_floor_ms", pausesFloorMs(remote::CommandFrame::kSize));
    bench::printValue("click_frames_lost", lost);
    return 0;
}
