#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Summary {
    std::size_t n = 0;
    double min = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Summary summarize(std::vector<double> samples);

// One figure as a line the run script reads: "RESULT <key> n=.. median=.. p99=.. min=.. max=..".
void printSummary(const std::string& key, const Summary& s);
// A single value: "RESULT <key> value=..".
void printValue(const std::string& key, double value);

// `--name value` from the command line, or `fallback`.
double numberOption(int argc, char** argv, const std::string& name, double fallback);

// The offscreen platform unless the caller chose one.
void preferOffscreenPlatform();

// Runs the event loop for `ms`, or until `done` (checked as events come) holds. Unlike
// QTest::qWait it blocks in the loop, so timers fire when due and not after a sleep.
void runEventLoop(int ms, const std::function<bool()>& done = {});

}  // namespace bench
