#include "thread_settings.h"

#include <sched.h>

#include "library_result_codes.h"

namespace standin {

int32_t ApplyCpuAffinity(pthread_t thread, int64_t mask) {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const auto bits = static_cast<uint64_t>(mask);
    for (int cpu = 0; cpu < 64; ++cpu) {
        if ((bits >> cpu) & 1) CPU_SET(cpu, &cpus);
    }
    return pthread_setaffinity_np(thread, sizeof(cpus), &cpus) == 0 ? code::kOk : code::kInternal;
}

int32_t ApplyScheduling(pthread_t thread, int32_t policy, int32_t priority) {
    switch (policy) {
        case SCHED_OTHER:
        case SCHED_FIFO:
        case SCHED_RR:
        case SCHED_BATCH:
        case SCHED_IDLE:
            break;
        default:
            return code::kThreadPolicyInvalid;
    }
    if (priority < sched_get_priority_min(policy) || priority > sched_get_priority_max(policy)) {
        return code::kThreadPriorityInvalid;
    }
    sched_param parameters{};
    parameters.sched_priority = priority;
    return pthread_setschedparam(thread, policy, &parameters) == 0 ? code::kOk : code::kInternal;
}

}  // namespace standin
