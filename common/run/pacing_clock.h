// Holds a feeding loop to the pace of real time: WaitUntil returns once as much monotonic
// time has passed since the first call as the media time has advanced. A wait is one sleep
// to that absolute instant, so the caller wakes once per call.
#pragma once

#include <cstdint>
#include <optional>

class PacingClock {
public:
    // Returns how late it returned against the instant (100 ns ticks, never much below 0),
    // where the clock could tell.
    std::optional<int64_t> WaitUntil(int64_t mediaTime);  // 100 ns ticks

private:
    int64_t anchorMediaTime_ = 0;
    int64_t anchorWallTime_ = 0;  // 0: not anchored yet
};
