#include "remote/poll_pacer.h"

#include <algorithm>

namespace remote {

PollPacer::TimePoint PollPacer::tickAtOrAfter(TimePoint t) const {
    if (t <= origin_) {
        return origin_;
    }
    const auto ticks = (t - origin_ + period_ - Clock::duration(1)) / period_;
    return origin_ + ticks * period_;
}

PollPacer::TimePoint PollPacer::inputArrived(TimePoint now) {
    const TimePoint tick = tickAtOrAfter(now);
    next_ = next_ ? std::min(*next_, tick) : tick;
    return *next_;
}

std::optional<PollPacer::TimePoint> PollPacer::polled(TimePoint now, bool gathering,
                                                      bool canSleep) {
    if (gathering || !canSleep) {
        next_ = tickAtOrAfter(now + Clock::duration(1));
    } else {
        next_.reset();
    }
    return next_;
}

}  // namespace remote
