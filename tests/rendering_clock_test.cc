#include "rendering_clock_impl.h"

#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <thread>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr int64_t kTicksPerMillisecond = 10000;
// A loaded machine may wake a sleeper late; pacing is only wrong beyond this.
constexpr milliseconds kLateBound{30};

nanoseconds Read(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + nanoseconds(now.tv_nsec);
}

nanoseconds Monotonic() {
    return Read(CLOCK_MONOTONIC);
}

template <typename Body>
nanoseconds Elapsed(Body&& body) {
    const nanoseconds start = Monotonic();
    body();
    return Monotonic() - start;
}

TEST(RenderingClockTest, FirstCallAndPastTargetsReturnAtOnce) {
    CRenderingClockImpl clock;
    // Anchoring, whatever the media time, holds nothing back.
    EXPECT_LT(Elapsed([&] { clock.WaitUntil(10000 * kTicksPerMillisecond); }), kLateBound);
    EXPECT_LT(Elapsed([&] {
                  for (int i = 0; i < 20; ++i) clock.WaitUntil(10000 * kTicksPerMillisecond);
                  clock.WaitUntil(0);
                  clock.WaitUntil(-5000 * kTicksPerMillisecond);
              }),
              kLateBound);
}

TEST(RenderingClockTest, WaitsForATargetAheadBySleeping) {
    CRenderingClockImpl clock;
    // Taken before the anchor, so that the measured wait can only come out longer.
    const nanoseconds start = Monotonic();
    clock.WaitUntil(500);
    const nanoseconds cpuStart = Read(CLOCK_THREAD_CPUTIME_ID);
    clock.WaitUntil(500 + 10 * kTicksPerMillisecond);
    const nanoseconds cpu = Read(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
    const nanoseconds waited = Monotonic() - start;

    EXPECT_GE(waited, milliseconds(10) - microseconds(2));
    EXPECT_LE(waited, milliseconds(10) + kLateBound);
    // Sleeping, not spinning: the thread hardly runs while it waits.
    EXPECT_LT(cpu, waited / 4);
}

TEST(RenderingClockTest, ResetAnchorsAgain) {
    CRenderingClockImpl clock;
    clock.WaitUntil(0);
    clock.Reset();
    const nanoseconds start = Monotonic();
    // Without the new anchor this would wait a whole second.
    clock.WaitUntil(1000 * kTicksPerMillisecond);
    EXPECT_LT(Monotonic() - start, kLateBound);
    clock.WaitUntil(1010 * kTicksPerMillisecond);
    const nanoseconds waited = Monotonic() - start;
    EXPECT_GE(waited, milliseconds(10) - microseconds(2));
    EXPECT_LE(waited, milliseconds(10) + kLateBound);
}

TEST(RenderingClockTest, CatchesUpAfterAStallWithoutMovingTheAnchor) {
    CRenderingClockImpl clock;
    const nanoseconds start = Monotonic();
    clock.WaitUntil(0);
    std::this_thread::sleep_for(milliseconds(200));
    // The audio up to 150 ms is overdue: it goes through at once.
    EXPECT_LT(Elapsed([&] {
                  clock.WaitUntil(50 * kTicksPerMillisecond);
                  clock.WaitUntil(100 * kTicksPerMillisecond);
                  clock.WaitUntil(150 * kTicksPerMillisecond);
              }),
              kLateBound);
    // Past the wall clock again, the pace is still kept from the first anchor.
    clock.WaitUntil(300 * kTicksPerMillisecond);
    const nanoseconds waited = Monotonic() - start;
    EXPECT_GE(waited, milliseconds(300) - microseconds(2));
    EXPECT_LE(waited, milliseconds(300) + kLateBound);
}

TEST(RenderingClockFactoryTest, DestroysOnlyItsOwnClocks) {
    IRenderingClock* clock = CreateRenderingClock();
    ASSERT_NE(clock, nullptr);
    DestroyRenderingClock(clock);
    EXPECT_EQ(clock, nullptr);

    struct OtherClock : IRenderingClock {
        void Reset() override {}
        void WaitUntil(int64_t) override {}
    } other;
    clock = &other;  // on the stack: deleting it would crash
    DestroyRenderingClock(clock);
    EXPECT_EQ(clock, nullptr);
}

}  // namespace
