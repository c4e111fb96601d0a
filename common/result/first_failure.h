// The first failure of a run that happens away from the run's own steps (the output, written
// from the library's thread), kept once: the run looks at it after every block fed and at
// the end, so that lost output is never reported as a success.
#pragma once

#include <atomic>
#include <mutex>
#include <utility>

#include "status.h"

namespace CorvidaUtils {

class FirstFailure {
public:
    // Keeps `status` unless a failure is kept already; success is not kept.
    void Record(Status status) noexcept {
        if (status.ok()) return;
        const std::lock_guard<std::mutex> lock(mutex_);
        if (failed_.load(std::memory_order_relaxed)) return;
        first_ = std::move(status);
        failed_.store(true, std::memory_order_release);
    }
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    // The failure kept, or success.
    Status Get() const {
        if (!failed()) return Status();
        const std::lock_guard<std::mutex> lock(mutex_);
        return first_;
    }

private:
    mutable std::mutex mutex_;
    Status first_;
    std::atomic<bool> failed_{false};
};

}  // namespace CorvidaUtils
