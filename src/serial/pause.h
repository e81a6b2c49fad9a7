#pragma once

namespace serial {

// The pause after each byte of a frame: the platform's shortest sleep, asked for as 1 ms.
void pauseOneMillisecond();

// Held while a frame goes out, so that the pauses really are about 1 ms where the system's
// timer is coarse by default.
class FineTimerResolution {
public:
    FineTimerResolution();
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;
};

}  // namespace serial
