// Holds a feeding loop to the pace of real time: WaitUntil returns once as much monotonic
// time has passed since the first call as the media time has advanced. A wait is one sleep
// to that absolute instant, so the caller wakes once per call.
#pragma once

#include <cstdint>

class PacingClock {
public:
    void WaitUntil(int64_t mediaTime);  // 100 ns ticks

private:
    int64_t anchorMediaTime_ = 0;
    int64_t anchorWallTime_ = 0;  // 0: not anchored yet
};
