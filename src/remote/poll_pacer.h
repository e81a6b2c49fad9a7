#pragma once

#include <chrono>
#include <optional>

namespace remote {

// When to poll the port. Polls fall on a fixed grid, every `period` from `origin`, where a
// free-running timer started at `origin` would put them. A poll that finds nothing waiting
// while no message is being gathered does nothing, so while the line is quiet the pacer
// skips those and sleeps until the line has input; it then takes up the grid again at the
// first tick that would have seen that input. Only polls that would have done nothing are
// skipped, so every message is cut exactly where the free-running poll cuts it.
class PollPacer {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    PollPacer(TimePoint origin, Clock::duration period) : origin_(origin), period_(period) {}

    // Input has arrived while the pacer slept (or the line hung up): the next poll is at the
    // first tick at or after `now`.
    TimePoint inputArrived(TimePoint now);

    // A poll has run at `now`. Returns when the next one falls, or nothing when the pacer may
    // sleep: no message is being gathered and `canSleep`, the line being able to wake it.
    std::optional<TimePoint> polled(TimePoint now, bool gathering, bool canSleep);

private:
    TimePoint tickAtOrAfter(TimePoint t) const;

    TimePoint origin_;
    Clock::duration period_;
    std::optional<TimePoint> next_;
};

}  // namespace remote
