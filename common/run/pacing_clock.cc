#include "pacing_clock.h"

#include <time.h>

#include <cerrno>
#include <limits>
#include <optional>

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kNanosecondsPerTick = 100;
// A wait with less than this left (2 microseconds) ends at once: no sleep is that short.
constexpr int64_t kCloseEnoughTicks = 20;

// Monotonic time in 100 ns ticks, or nothing when the clock cannot be read.
std::optional<int64_t> MonotonicTicks() {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return std::nullopt;
    return static_cast<int64_t>(now.tv_sec) * kTicksPerSecond + now.tv_nsec / kNanosecondsPerTick;
}

// Media times come from the caller; absurd ones must saturate rather than overflow.
int64_t SaturatingSub(int64_t a, int64_t b) {
    if (b < 0 && a > std::numeric_limits<int64_t>::max() + b) {
        return std::numeric_limits<int64_t>::max();
    }
    if (b > 0 && a < std::numeric_limits<int64_t>::min() + b) {
        return std::numeric_limits<int64_t>::min();
    }
    return a - b;
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
    if (b > 0 && a > std::numeric_limits<int64_t>::max() - b) {
        return std::numeric_limits<int64_t>::max();
    }
    if (b < 0 && a < std::numeric_limits<int64_t>::min() - b) {
        return std::numeric_limits<int64_t>::min();
    }
    return a + b;
}

// Sleeps until the monotonic clock reaches `ticks`. One sleep to the absolute instant: it
// ends at the instant plus the kernel's wake-up latency, and never before the instant.
void SleepUntil(int64_t ticks) {
    const timespec target{static_cast<time_t>(ticks / kTicksPerSecond),
                          static_cast<long>(ticks % kTicksPerSecond * kNanosecondsPerTick)};
    // A signal (the stop request) cuts the sleep short; the instant is absolute, so the
    // sleep is taken up again without drifting. The driver looks at the stop request itself.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
}

}  // namespace

std::optional<int64_t> PacingClock::WaitUntil(int64_t mediaTime) {
    // Not beyond the anchor: the instant has passed. Raw standard input, whose media time
    // stays put, takes this way for every block, without even reading the clock.
    if (anchorWallTime_ != 0 && mediaTime <= anchorMediaTime_) return std::nullopt;
    const std::optional<int64_t> now = MonotonicTicks();
    // Without a readable clock there is nothing to pace against: never hold the caller.
    if (!now) return std::nullopt;
    if (anchorWallTime_ == 0) {
        anchorMediaTime_ = mediaTime;
        anchorWallTime_ = *now;
        return 0;
    }
    const int64_t target =
        SaturatingAdd(anchorWallTime_, SaturatingSub(mediaTime, anchorMediaTime_));
    // Reading the clock first spares a system call for a block that is already due.
    if (SaturatingSub(target, *now) < kCloseEnoughTicks) return SaturatingSub(*now, target);
    SleepUntil(target);
    const std::optional<int64_t> woke = MonotonicTicks();
    if (!woke) return std::nullopt;
    return SaturatingSub(*woke, target);
}
