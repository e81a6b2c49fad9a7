// A device that never stops talking: printable text at a full line's rate, then bursts larger
// than one poll takes. Measures how long the window's event loop stalls, what one log append
// costs before and after, and what the log keeps.
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "bench_window.h"
#include "support/resident_memory.h"

namespace {

// Lateness of a 5 ms timer: how long the window's thread was busy with something else.
class StallMeter {
public:
    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kPeriodMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = bench::Clock::now();
            late_.push_back(std::max(0.0, bench::msBetween(last_, now) - kPeriodMs));
            last_ = now;
        });
    }
    void start() {
        late_.clear();
        last_ = bench::Clock::now();
        timer_.start();
    }
    std::vector<double> stop() {
        timer_.stop();
        return late_;
    }

private:
    static constexpr int kPeriodMs = 5;
    QTimer timer_;
    bench::Clock::time_point last_;
    std::vector<double> late_;
};

// Median cost of appending one full message's worth of text to the window's log.
double appendCostUs(QPlainTextEdit* log) {
    const QString line(1024, QLatin1Char('x'));
    std::vector<double> samples;
    for (int i = 0; i < 21; ++i) {
        const auto start = bench::Clock::now();
        log->appendPlainText(line);
        samples.push_back(1000.0 * bench::msBetween(start, bench::Clock::now()));
    }
    return bench::summarize(samples).median;
}

std::string printableText(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) {
        text += "line " + std::to_string(i) + " abcdefghijklmnopqrstuvwxyz 0123456789\n";
    }
    text.resize(size);
    return text;
}

// Writes `rate` bytes a second for `seconds`, in 5 ms slices as a UART would deliver them.
void writeSteadily(testing_support::PtyDevice& device, double rate, double seconds) {
    const std::string text = printableText(1 << 16);
    const auto start = bench::Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    std::size_t sent = 0;
    for (auto now = start; now < end; now = bench::Clock::now()) {
        const auto due =
            static_cast<std::size_t>(rate * std::chrono::duration<double>(now - start).count());
        if (due > sent) {
            std::string slice;
            while (slice.size() < due - sent) {
                const std::size_t at = (sent + slice.size()) % text.size();
                slice += text.substr(at, std::min(due - sent - slice.size(), text.size() - at));
            }
            device.send(slice);
            sent = due;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

int main(int argc, char** argv) {
    bench::preferOffscreenPlatform();
    QApplication application(argc, argv);
    const double seconds = bench::numberOption(argc, argv, "--seconds", 60);
    const double rate = bench::numberOption(argc, argv, "--rate", 11520);
    const int bursts = static_cast<int>(bench::numberOption(argc, argv, "--bursts", 20));
    const auto burstBytes =
        static_cast<std::size_t>(bench::numberOption(argc, argv, "--burst-bytes", 1500));

    bench::WindowOnPty window;
    if (!window.open()) {
        return 1;
    }
    QPlainTextEdit* log = window.log();
    long messages = 0;
    QObject::connect(log, &QPlainTextEdit::textChanged, [&] { ++messages; });

    bench::runEventLoop(300);
    const double appendStart = appendCostUs(log);
    bench::runEventLoop(300);
    const long rssStart = testing_support::residentKiB();
    const int blocksStart = log->blockCount();
    messages = 0;

    StallMeter stalls;
    stalls.start();
    std::atomic<bool> flowing{true};
    std::thread flood([&] {
        writeSteadily(window.device, rate, seconds);
        flowing = false;
    });
    bench::runEventLoop(int(seconds * 1000) + 10000, [&] { return !flowing; });
    flood.join();
    bench::runEventLoop(300);  // the last message ends at the next quiet poll
    const std::vector<double> floodStalls = stalls.stop();
    const long floodMessages = messages;
    const long rssEnd = testing_support::residentKiB();
    const int floodBlocks = log->blockCount() - blocksStart;
    const double appendEnd = appendCostUs(log);

    messages = 0;
    stalls.start();
    const std::string burst = printableText(burstBytes);
    for (int i = 0; i < bursts; ++i) {
        window.device.send(burst);
        bench::runEventLoop(350);  // past two polls: each burst stands alone
    }
    const std::vector<double> burstStalls = stalls.stop();

    std::printf(
        "flood: %.0f bytes/s for %.0f s; messages logged %ld (%d log lines), RSS %ld -> "
        "%ld KiB\n",
        rate, seconds, floodMessages, floodBlocks, rssStart, rssEnd);
    std::printf("bursts: %d of %zu bytes; messages logged %ld\n", bursts, burstBytes, messages);
    bench::printSummary("flood_stall_ms", bench::summarize(floodStalls));
    bench::printValue("flood_messages_logged", double(floodMessages));
    bench::printValue("flood_log_lines", floodBlocks);
    bench::printValue("flood_rss_growth_kib", double(rssEnd - rssStart));
    if (floodMessages > 0) {
        bench::printValue("flood_kib_per_message", double(rssEnd - rssStart) / floodMessages);
    }
    bench::printValue("append_start_us", appendStart);
    bench::printValue("append_end_us", appendEnd);
    bench::printSummary("burst_stall_ms", bench::summarize(burstStalls));
    bench::printValue("burst_messages_logged", double(messages));
    return 0;
}
