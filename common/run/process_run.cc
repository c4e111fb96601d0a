#include "process_run.h"

#include <cstdlib>
#include <iostream>
#include <new>

#include "common_settings.h"
#include "embedder_setup.h"
#include "pacing_clock.h"
#include "result_codes.h"
#include "service_notifier.h"
#include "stop_signal.h"

std::optional<int> AnswerHelpOrVersion(ArgumentStore& store, const std::string& programName) {
    if (helpAsked(store)) return 0;
    if (!versionAsked(store)) return std::nullopt;
    PrintProgramVersion(std::cout, programName);
    return 0;
}

std::ostream& ConsoleFor(const StreamSettings& streams) {
    return OutputIsStandardOutput(streams) ? std::cerr : std::cout;
}

int RunAsThisProcess(const CommonSettings& settings, const RunProgram& program,
                     const StreamSettings& streams, ListenerStyle style) {
    AudioStreams made;
    try {
        made = MakeAudioStreams(streams, &StopRequested);
    } catch (const std::bad_alloc&) {
        // Before the first line: a run that cannot even begin ends without one.
        return CorvidaUtils::kMemoryError;
    }
    PacingClock clock;
    RunEnvironment environment;
    environment.stopRequested = &StopRequested;
    environment.stopSignal = &StopSignalNumber;
    environment.feedingStarts = &RestartCallsAfterStopSignal;
    environment.waitUntil = [&clock](int64_t mediaTime) { clock.WaitUntil(mediaTime); };
    // A service manager that runs the program asks for its messages through the environment.
    ServiceNotifier notifier(std::getenv("NOTIFY_SOCKET"), std::getenv("WATCHDOG_USEC"));
    environment.notifier = &notifier;
    style.terminal = made.consoleIsTerminal;
    return RunEmbedding(settings, program, *made.source, *made.sink, *made.console, style,
                        environment)
        .exitStatus;
}
