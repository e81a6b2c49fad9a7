#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <mmsystem.h>

#include "serial/pause.h"

namespace serial {

void pauseOneMillisecond() {
    ::Sleep(1);
}

// Windows' timer ticks every 15.6 ms by default, so Sleep(1) would stretch a five-byte frame
// from about 5 ms to about 80 ms. A finer tick costs the whole machine power, so it is held
// only while a frame goes out.
FineTimerResolution::FineTimerResolution() {
    ::timeBeginPeriod(1);
}

// timeBeginPeriod(1) fails only when 1 ms is outside the timer's range, and timeEndPeriod(1)
// then fails in the same way and changes nothing.
FineTimerResolution::~FineTimerResolution() {
    ::timeEndPeriod(1);
}

}  // namespace serial
