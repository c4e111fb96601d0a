// What each thread of this process has cost so far, as the kernel counts it: time on a CPU
// (nanoseconds) and voluntary context switches (each time the thread slept or blocked).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace bench {

struct ThreadStats {
    pid_t tid = 0;
    int64_t cpuNs = 0;
    int64_t voluntarySwitches = 0;
};

// Every thread of the calling process, read from /proc/self/task. A thread whose files
// cannot be read (it has just ended) is left out.
std::vector<ThreadStats> ReadThreadStats();

// The calling thread's kernel id.
pid_t CurrentTid();

// What the threads cost between two readings, split into one thread and all the others.
struct ThreadCost {
    int64_t ownCpuNs = 0;
    int64_t ownSwitches = 0;
    int64_t otherCpuNs = 0;
    int64_t otherSwitches = 0;
    int otherThreads = 0;
};

// Threads that appear only in `after` count from zero; threads that have ended by `after`
// are not counted at all.
ThreadCost CostBetween(const std::vector<ThreadStats>& before,
                       const std::vector<ThreadStats>& after, pid_t own);

}  // namespace bench
