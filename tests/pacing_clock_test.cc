#include "pacing_clock.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr int64_t kTicksPerMillisecond = 10000;
// The contract lets a wait end this much before its instant, and never earlier.
constexpr microseconds kEarliest{2};
// A loaded machine may wake a sleeper late, or not run it for a while; the targets below are
// far enough apart that a wrong wait shows beyond this.
constexpr milliseconds kLateBound{150};

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

TEST(PacingClockTest, FirstCallAnchorsAndReturnsAtOnce) {
    PacingClock clock;
    // Taken before the anchor, so that a measured wait can only come out longer.
    const nanoseconds start = Monotonic();
    // Anchoring, whatever the media time, holds nothing back.
    clock.WaitUntil(10000 * kTicksPerMillisecond);
    EXPECT_LT(Monotonic() - start, kLateBound);
    // The anchor is the first call's media time: 300 ms beyond it is 300 ms away, not
    // 10300 ms.
    clock.WaitUntil(10300 * kTicksPerMillisecond);
    const nanoseconds waited = Monotonic() - start;
    EXPECT_GE(waited, milliseconds(300) - kEarliest);
    EXPECT_LE(waited, milliseconds(300) + kLateBound);
}

TEST(PacingClockTest, TargetsAtOrBeforeTheAnchorReturnAtOnce) {
    PacingClock clock;
    clock.WaitUntil(10000 * kTicksPerMillisecond);
    EXPECT_LT(Elapsed([&] {
                  for (int i = 0; i < 20; ++i) clock.WaitUntil(10000 * kTicksPerMillisecond);
                  clock.WaitUntil(0);
                  clock.WaitUntil(-5000 * kTicksPerMillisecond);
                  clock.WaitUntil(std::numeric_limits<int64_t>::min());
              }),
              kLateBound);
}

TEST(PacingClockTest, NeverReturnsBeforeTheInstantOfEachBlock) {
    PacingClock clock;
    const nanoseconds start = Monotonic();
    clock.WaitUntil(0);
    // Block-sized steps of an odd length, so that instants fall between whole microseconds.
    constexpr int64_t kStepTicks = 106667;
    // Calls that come when little is left of the wait: the last microseconds are where a
    // wait that gives up too soon would return early.
    const microseconds leftAtCall[] = {microseconds(3000), microseconds(300), microseconds(60),
                                       microseconds(15),   microseconds(4),   microseconds(1)};
    std::vector<nanoseconds> returned;
    for (int64_t block = 1; block <= 30; ++block) {
        const nanoseconds due{block * kStepTicks * 100};
        const nanoseconds callAt = start + due - leftAtCall[block % 6];
        while (Monotonic() < callAt - microseconds(200)) {
            std::this_thread::sleep_for(callAt - Monotonic() - microseconds(200));
        }
        while (Monotonic() < callAt) {
        }
        clock.WaitUntil(block * kStepTicks);
        returned.push_back(Monotonic() - start);
    }
    for (size_t i = 0; i < returned.size(); ++i) {
        const nanoseconds due{static_cast<int64_t>(i + 1) * kStepTicks * 100};
        EXPECT_GE(returned[i], due - kEarliest) << "block " << i + 1;
    }
    // Lateness of one block does not carry over to the next.
    EXPECT_LE(returned.back(), nanoseconds(30 * kStepTicks * 100) + kLateBound);
}

TEST(PacingClockTest, WaitsBySleeping) {
    PacingClock clock;
    clock.WaitUntil(0);
    const nanoseconds cpuStart = Read(CLOCK_THREAD_CPUTIME_ID);
    const nanoseconds waited = Elapsed([&] { clock.WaitUntil(200 * kTicksPerMillisecond); });
    const nanoseconds cpu = Read(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
    // Sleeping, not spinning: the thread hardly runs while it waits.
    EXPECT_LT(cpu, waited / 4);
}

TEST(PacingClockTest, CatchesUpAfterAStallWithoutMovingTheAnchor) {
    PacingClock clock;
    const nanoseconds start = Monotonic();
    clock.WaitUntil(0);
    std::this_thread::sleep_for(milliseconds(600));
    // The audio up to 500 ms is overdue: it goes through at once, where waiting from the
    // moment of each call would take 300 ms and more.
    EXPECT_LT(Elapsed([&] {
                  clock.WaitUntil(100 * kTicksPerMillisecond);
                  clock.WaitUntil(300 * kTicksPerMillisecond);
                  clock.WaitUntil(500 * kTicksPerMillisecond);
              }),
              kLateBound);
    // Past the wall clock again, the pace is still kept from the first anchor.
    clock.WaitUntil(900 * kTicksPerMillisecond);
    const nanoseconds waited = Monotonic() - start;
    EXPECT_GE(waited, milliseconds(900) - kEarliest);
    EXPECT_LE(waited, milliseconds(900) + kLateBound);
}

std::atomic<int> signalsHandled{0};

void CountSignal(int) {
    signalsHandled.fetch_add(1);
}

// The programs catch their stop signals; one that lands while the clock sleeps must not end
// the wait early (the driver looks at the stop request between blocks).
TEST(PacingClockTest, ASignalDoesNotEndTheWaitEarly) {
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    signalsHandled = 0;

    PacingClock clock;
    const pthread_t waiter = pthread_self();
    std::atomic<bool> done{false};
    std::thread sender([&] {
        do {
            std::this_thread::sleep_for(milliseconds(5));
            pthread_kill(waiter, SIGUSR1);
        } while (!done);
    });
    const nanoseconds start = Monotonic();
    clock.WaitUntil(0);
    clock.WaitUntil(300 * kTicksPerMillisecond);
    const nanoseconds waited = Monotonic() - start;
    done = true;
    sender.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_GT(signalsHandled.load(), 0);
    EXPECT_GE(waited, milliseconds(300) - kEarliest);
    EXPECT_LE(waited, milliseconds(300) + kLateBound);
}

}  // namespace
