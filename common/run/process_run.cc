#include "process_run.h"

#include <cstdlib>
#include <new>

#include "code_exception.h"
#include "common_settings.h"
#include "embedder_setup.h"
#include "pacing_clock.h"
#include "process_reporter.h"
#include "result_codes.h"
#include "service_notifier.h"
#include "stop_signal.h"

std::optional<int> ReadCommandLine(const std::function<void()>& read, const ArgumentStore& store,
                                   const ConsoleStyle& style, const char* rawOutputName) {
    const CorvidaUtils::Status result = CorvidaUtils::Catching(read);
    if (result.ok()) return std::nullopt;
    // Where the run's lines would have gone: a command-line error and its usage text must not
    // land in the audio either.
    StreamSettings streams;
    if (store.positionalArgumentCount() >= 2) {
        streams.outputFile = store.positionalArgument(1);
        streams.rawOutput = rawOutputName != nullptr && streams.outputFile == rawOutputName;
    }
    ReporterSettings settings;
    settings.style = style;
    settings.outputIsStandardOutput = OutputIsStandardOutput(streams);
    settings.jsonLog = JsonLogAsked(store);
    RunEnd end;
    end.result = result;
    end.exitStatus = CorvidaUtils::ExitStatusFor(result.code());
    MakeProcessReporter(settings)->Ended(end);
    return end.exitStatus;
}

std::optional<int> AnswerHelpOrVersion(ArgumentStore& store, const ConsoleStyle& style) {
    if (helpAsked(store)) {
        PrintUsageText(style.printUsage);
        return 0;
    }
    if (!versionAsked(store)) return std::nullopt;
    PrintProgramVersion(style.program, LibraryVersion());
    return 0;
}

RunStart StartOf(const CommonSettings& settings) {
    RunStart start;
    start.programVersion = ProgramVersion();
    start.output = settings.outputFile;
    if (settings.recordDirectory) start.options.emplace_back("record", *settings.recordDirectory);
    if (settings.affinityMask) {
        start.options.emplace_back("affinity", std::to_string(*settings.affinityMask));
    }
    if (settings.threadPriority) {
        start.options.emplace_back("prio", std::to_string(settings.threadPriority->policy) + "," +
                                               std::to_string(settings.threadPriority->priority));
    }
    return start;
}

int RunAsThisProcess(const CommonSettings& settings, const RunProgram& program,
                     const StreamSettings& streams, const ConsoleStyle& style) {
    AudioStreams made;
    std::unique_ptr<RunReporter> reporter;
    try {
        made = MakeAudioStreams(streams, &StopRequested);
        ReporterSettings reporting;
        reporting.style = style;
        reporting.outputIsStandardOutput = OutputIsStandardOutput(streams);
        reporting.jsonLog = settings.jsonLog;
        reporter = MakeProcessReporter(reporting);
    } catch (const std::bad_alloc&) {
        // Before the first line: a run that cannot even begin ends without one.
        return CorvidaUtils::kMemoryError;
    }
    PacingClock clock;
    RunEnvironment environment;
    environment.stopRequested = &StopRequested;
    environment.stopSignal = &StopSignalNumber;
    environment.feedingStarts = &RestartCallsAfterStopSignal;
    environment.waitUntil = [&clock](int64_t mediaTime) { return clock.WaitUntil(mediaTime); };
    // A service manager that runs the program asks for its messages through the environment.
    ServiceNotifier notifier(std::getenv("NOTIFY_SOCKET"), std::getenv("WATCHDOG_USEC"));
    environment.notifier = &notifier;
    // Asked of the library only when something shows it: a silent run makes no call more.
    RunProgram shown = program;
    if (!style.silent || settings.jsonLog) shown.start.libraryVersion = LibraryVersion();
    return RunEmbedding(settings, shown, *made.source, *made.sink, *reporter, environment)
        .exitStatus;
}
