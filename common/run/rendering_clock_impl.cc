#include "rendering_clock_impl.h"

#include <sys/prctl.h>
#include <time.h>

#include <limits>
#include <new>
#include <optional>

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kMicrosecondsPerSecond = 1000000;
// How late the kernel may end each sleep of the pacing thread. With the default 50 us the
// halving sleeps go on until half the remainder drops under the wake-up latency: six or seven
// sleeps per 10.7 ms block, each a context switch, which is most of a paced run's CPU time.
// With 2 ms the overshoot of the second sleep ends the wait. Blocks then leave up to about
// 2 ms late (1 ms on average); since the anchor never moves, that does not add up over a run.
constexpr unsigned long kPacingTimerSlackNs = 2000000;

// Monotonic time in 100 ns ticks, or nothing when the clock cannot be read.
std::optional<int64_t> MonotonicTicks() {
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return std::nullopt;
    return static_cast<int64_t>(now.tv_sec) * kTicksPerSecond + now.tv_nsec / 100;
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

}  // namespace

void CRenderingClockImpl::Reset() {
    anchorWallTime_ = 0;
}

void CRenderingClockImpl::WaitUntil(int64_t mediaTime) {
    if (anchorWallTime_ == 0) {
        const std::optional<int64_t> now = MonotonicTicks();
        // Without a readable clock there is nothing to pace against: never hold the caller.
        if (!now) return;
        anchorMediaTime_ = mediaTime;
        anchorWallTime_ = *now;
        // Only a thread that is being paced gets the coarser slack. A refusal leaves the
        // default, which paces just as well at a higher cost.
        prctl(PR_SET_TIMERSLACK, kPacingTimerSlackNs, 0, 0, 0);
    }
    const int64_t mediaAhead = SaturatingSub(mediaTime, anchorMediaTime_);
    for (;;) {
        const std::optional<int64_t> now = MonotonicTicks();
        if (!now) return;
        const int64_t remaining = SaturatingSub(mediaAhead, *now - anchorWallTime_);
        // Sleeping half of what remains closes in on the target without overshooting it
        // by more than one sleep's latency; below 2 microseconds it is not worth a sleep.
        const int64_t halfMicroseconds = remaining / 20;
        if (halfMicroseconds <= 0) return;
        const timespec sleep{static_cast<time_t>(halfMicroseconds / kMicrosecondsPerSecond),
                             static_cast<long>(halfMicroseconds % kMicrosecondsPerSecond) * 1000};
        // An interrupted sleep just leads to the next pass.
        nanosleep(&sleep, nullptr);
    }
}

IRenderingClock* CreateRenderingClock() {
    return new (std::nothrow) CRenderingClockImpl();
}

int32_t DestroyRenderingClock(IRenderingClock*& clock) {
    delete dynamic_cast<CRenderingClockImpl*>(clock);
    clock = nullptr;
    return 0;
}
