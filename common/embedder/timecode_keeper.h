// Keeps the embedder's time code in step with the wall clock: it is re-synchronised at the
// second block, once a day after that, and whenever two consecutive blocks are more than a
// second apart in wall time (a jump of the system clock, or a pause of the input).
#pragma once

#include <cstdint>

#include "library_result_codes.h"
#include "pellion_audio_embedder.h"
#include "status.h"

// Wall time in 100 ns ticks since the Unix epoch. Should the clock not be readable, returns
// `fallback` (the previous block's wall time), so that the failure triggers no re-sync.
int64_t ReadWallTime(int64_t fallback);

class TimecodeKeeper {
public:
    static constexpr int64_t kMaxBlockGap = 10000000;         // one second
    static constexpr int64_t kResyncPeriod = 864000000000LL;  // 24 hours

    // Before handing over the block read at `wallTime`: re-synchronises when due. Results 0
    // and 81 (feature not allowed) count as done; any other fails, its code passed on
    // unconverted, with "ResynchronizeTimecode failed".
    CorvidaUtils::Status BeforeBlock(int64_t wallTime, Corvida::IEmbedderTimecode& embedder);
    // After the block has been handed over.
    void AfterBlock(int64_t wallTime) { previousWallTime_ = wallTime; }

    int64_t previousWallTime() const { return previousWallTime_; }

private:
    int64_t previousWallTime_ = -1;  // -1: no block handed over yet
    int64_t lastResyncTime_ = 0;
};
