// What a real process gives its run: the stop signal and the pace of real time.
#pragma once

#include "embedding_run.h"
#include "pacing_clock.h"

class ProcessEnvironment {
public:
    ProcessEnvironment();
    ProcessEnvironment(const ProcessEnvironment&) = delete;
    ProcessEnvironment& operator=(const ProcessEnvironment&) = delete;

    const RunEnvironment& get() const { return environment_; }

private:
    PacingClock clock_;
    RunEnvironment environment_;
};
