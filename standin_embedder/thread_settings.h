// CPU affinity and scheduling of a thread, answered with library result codes.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace standin {

// Bit i of `mask` selects CPU i. Fails with kInternal when the kernel refuses the set, for
// example because it selects no CPU that exists.
int32_t ApplyCpuAffinity(pthread_t thread, int64_t mask);

// Checks the policy (SCHED_OTHER, SCHED_FIFO, SCHED_RR, SCHED_BATCH or SCHED_IDLE) and
// that the priority lies within that policy's range, then applies both. Fails with
// kInternal when the kernel refuses, for example for lack of privilege.
int32_t ApplyScheduling(pthread_t thread, int32_t policy, int32_t priority);

}  // namespace standin
