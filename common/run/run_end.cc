#include "run_end.h"

#include <iostream>

#include "result_report.h"
#include "run_steps.h"
#include "stop_signal.h"

int EndRun(RunState& run, ListenerOutput& output, const RunEnding& ending) {
    // Until the first block has been handed over there is nothing to save: a stop signal then
    // ends the run at once, whatever the call it interrupted reported.
    const bool stoppedBeforeAudio = StopRequested() && run.fed.blocks == 0;
    if (stoppedBeforeAudio) run.result = CorvidaUtils::RunResult();
    const bool jobStarted = run.initialized && !stoppedBeforeAudio;

    run.samples.buffer.Release();
    run.widened.buffer.Release();
    if (jobStarted) ending.endJob(run);
    run.clock.reset();
    run.reader.reset();
    run.embedder.reset();
    // A run whose job never started leaves the output path as it found it.
    if (jobStarted) {
        output.Close();
    } else {
        output.Discard();
    }
    // Blocks returned while finalising, and the completion of the WAV file, may fail too.
    if (run.result.code == CorvidaUtils::kSuccess) {
        CorvidaUtils::RunCatchingErrors(
            [&] { CheckOutput(run, output, ending.outputFailureContext); }, run.result);
    }

    // An output given up after a stop took less than was fed, even when the feeding had
    // already reached the end of the input.
    const bool interrupted = stoppedBeforeAudio || run.fed.stopped || output.Abandoned();
    if (run.result.code == CorvidaUtils::kSuccess && interrupted) {
        const int signalNumber = StopSignalNumber();
        // The output's frames are whole frames of the input's format.
        const uint64_t frameBytes = run.format.nbChannels * (run.format.bitsPerSample / 8);
        const uint64_t frames = frameBytes > 0 ? output.BytesWritten() / frameBytes : 0;
        CorvidaUtils::PrintInterruptedLine(ending.console, StopSignalName(signalNumber),
                                           stoppedBeforeAudio, frames, !output.Abandoned());
        return CorvidaUtils::InterruptedExitStatus(signalNumber);
    }
    if (run.result.code == CorvidaUtils::kSuccess && run.fed.bytes == 0 && run.fed.endOfInput) {
        // An upstream that failed before sending anything, or an empty file: the run is not
        // wrong, but its output holds no audio.
        std::cerr << "Warning: no audio was read from the input" << std::endl;
    }
    CorvidaUtils::PrintResultLine(ending.console, run.result, ending.printSuccess,
                                  ending.printUsage);
    return CorvidaUtils::ExitStatusFor(run.result.code);
}

void SetEndJobFailure(RunState& run, int32_t libraryCode) {
    run.result.code = run.check.library.ConvertCode(libraryCode);
    run.result.message = "Error finalizing embedder.";
}
