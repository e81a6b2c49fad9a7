#include <chrono>
#include <thread>

#include "serial/pause.h"

namespace serial {

void pauseOneMillisecond() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The kernel's timers are already fine-grained here.
FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;

}  // namespace serial
