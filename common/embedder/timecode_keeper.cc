#include "timecode_keeper.h"

#include <sys/time.h>

int64_t ReadWallTime(int64_t fallback) {
    timeval now{};
    if (gettimeofday(&now, nullptr) != 0) return fallback;
    return static_cast<int64_t>(now.tv_sec) * 10000000 + static_cast<int64_t>(now.tv_usec) * 10;
}

CorvidaUtils::Status TimecodeKeeper::BeforeBlock(int64_t wallTime,
                                                 Corvida::IEmbedderTimecode& embedder) {
    if (previousWallTime_ == -1) return CorvidaUtils::Status();
    const int64_t gap = wallTime - previousWallTime_;
    const bool jumped = gap > kMaxBlockGap || gap < -kMaxBlockGap;
    const bool dayPassed = wallTime > lastResyncTime_ + kResyncPeriod;
    if (!jumped && !dayPassed) return CorvidaUtils::Status();
    const int32_t result = embedder.ResynchronizeTimecode();
    if (result == 0 || result == library_code::kResyncNotAllowed) {
        lastResyncTime_ = wallTime;
        return CorvidaUtils::Status();
    }
    return CorvidaUtils::Status(result, "ResynchronizeTimecode failed");
}
