// From a mouse click on a key of the remote to the fifth byte of its frame readable on the
// device's side of the line, directly or through ser2net (--through-ser2net 1); and, with
// --idle-seconds S, how often the window wakes while the port is open and nothing happens.
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "app/key_hotspot.h"
#include "bench_common.h"
#include "bench_window.h"
#include "frame_watcher.h"
#include "remote/key_table.h"
#include "support/serial_server.h"

namespace {

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

// Times this process's threads were switched out, waiting or pre-empted.
long contextSwitches() {
    long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                total += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    bench::preferOffscreenPlatform();
    QApplication application(argc, argv);
    const int clicks = static_cast<int>(bench::numberOption(argc, argv, "--clicks", 300));

    const bool throughServer = bench::numberOption(argc, argv, "--through-ser2net", 0) != 0;
    const double idleSeconds = bench::numberOption(argc, argv, "--idle-seconds", 0);

    bench::WindowOnPty window;
    std::unique_ptr<testing_support::SerialServer> server;
    if (throughServer) {
        server = std::make_unique<testing_support::SerialServer>(window.device.path());
        if (!server->usable()) {
            return 1;
        }
    }
    if (!window.open(server ? server->portName("socket") : std::string())) {
        return 1;
    }
    if (idleSeconds > 0) {
        bench::runEventLoop(500);
        const long before = contextSwitches();
        bench::runEventLoop(int(idleSeconds * 1000));
        bench::printValue("idle_wakeups_per_s", double(contextSwitches() - before) / idleSeconds);
    }
    window.device.drain();
    bench::FrameWatcher watcher(window.device.master());

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
