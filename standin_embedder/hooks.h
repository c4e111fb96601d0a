// The two test hooks of the stand-in, read from the environment: PELLION_STANDIN_FAULTS
// (fault rules) and PELLION_STANDIN_TRACE (call trace). This is the library's only
// process-wide mutable state; it is guarded by one mutex.
//
// The variables are read at the first call into the library and again at every call of a
// Create function, which also resets the call counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "fault_rules.h"
#include "operations.h"
#include "pellion_audio_embedder.h"
#include "trace.h"

namespace standin {

// What an embedder takes over from the hooks when it is created.
struct EmbedderSetup {
    static constexpr std::size_t kDefaultLatency = 2;

    std::optional<ChannelOverride> channels;
    std::optional<std::string> failureReport;
    std::size_t latency = kDefaultLatency;
};

namespace hooks {

// Reads both variables again and resets every call counter.
void Reload();

// Announces a call of `op`: traces it with `args`, counts it, sends the messages configured
// for it to `listener` (if not null) and returns the code the call must fail with, if any.
// Without hooks this costs one atomic load.
std::optional<int32_t> Enter(Op op, Corvida::IEmbedderListener* listener,
                             std::initializer_list<TraceArg> args = {});

EmbedderSetup SetupForNewEmbedder();

}  // namespace hooks
}  // namespace standin
