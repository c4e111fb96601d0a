// The monotonic-clock pacer behind IRenderingClock.
#pragma once

#include <cstdint>

#include "rendering_clock.h"

class CRenderingClockImpl : public IRenderingClock {
public:
    CRenderingClockImpl() = default;
    ~CRenderingClockImpl() override = default;

    void Reset() override;
    void WaitUntil(int64_t mediaTime) override;

private:
    int64_t anchorMediaTime_ = 0;
    int64_t anchorWallTime_ = 0;  // 0: not anchored yet
};
