#include "process_environment.h"

#include "stop_signal.h"

ProcessEnvironment::ProcessEnvironment() {
    environment_.stopRequested = &StopRequested;
    environment_.stopSignal = &StopSignalNumber;
    environment_.feedingStarts = &RestartCallsAfterStopSignal;
    environment_.waitUntil = [this](int64_t mediaTime) { clock_.WaitUntil(mediaTime); };
}
