// Holds a feeding loop to the pace of real time: WaitUntil returns once as much monotonic
// time has passed since the first call as the media time has advanced. A wait is one sleep
// to that absolute instant, so the caller wakes once per call.
#pragma once

#include <cstdint>

class IRenderingClock {
public:
    virtual ~IRenderingClock() {}
    virtual void Reset() = 0;
    virtual void WaitUntil(int64_t mediaTime) = 0;  // 100 ns ticks
};

// Null when memory cannot be had.
IRenderingClock* CreateRenderingClock();
// Deletes the clock if it is ours, sets the pointer to null, returns 0.
int32_t DestroyRenderingClock(IRenderingClock*& clock);
