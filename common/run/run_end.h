// The end every run takes, in one fixed order: the job is ended only after a successful
// Initialize, the embedder is destroyed before the listener's output is closed (audio it
// returns while finalising or being destroyed still reaches the output), lost output is
// checked, and the one result line is printed last, when the output is complete.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "listener_output.h"
#include "run_state.h"

// What differs from one program to the other at the end.
struct RunEnding {
    // Ends the embedder's job (Finalize, or FinalizeWithReport and its report); a failure
    // replaces the run's result.
    void (*endJob)(RunState& run);
    std::ostream& console;                          // for the result line
    bool printSuccess;                              // "[SUCCESS]"; not in silent mode
    std::function<void(std::ostream&)> printUsage;  // after a command-line error
    const char* outputFailureContext;               // the context of lost output
};

// Ends the run and returns its exit status.
int EndRun(RunState& run, ListenerOutput& output, const RunEnding& ending);

// A failed end of the job: the library's code, translated, and "Error finalizing embedder.",
// in place of any earlier result.
void SetEndJobFailure(RunState& run, int32_t libraryCode);
