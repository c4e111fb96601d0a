// What a real process adds to its run: the answers to "-h", "--help" and "--version", the
// reporter on the standard streams, the streams its command line names, the stop signal, and
// the pace of real time. Both programs' main end with these.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "argument_store.h"
#include "audio_streams.h"
#include "console_reporter.h"
#include "embedding_run.h"
#include "run_reporter.h"

// Reads the program's command line with `read` (which parses `store`). When that fails (a
// command-line error, or memory that cannot be had), reports the failure with its usage text
// and returns the exit status; nothing when the run goes on. `rawOutputName` is the output
// name that means raw audio on standard output, if the program has one.
std::optional<int> ReadCommandLine(const std::function<void()>& read, const ArgumentStore& store,
                                   const ConsoleStyle& style, const char* rawOutputName = nullptr);

// Once the command line has been read: the exit status of "-h" or "--help" and of
// "--version", each answered on standard output, or nothing when the run goes on.
std::optional<int> AnswerHelpOrVersion(ArgumentStore& store, const ConsoleStyle& style);

// What the start of a machine's log says of a run with these settings: the program's version,
// the output and the options both programs share. Each program adds its own options.
RunStart StartOf(const CommonSettings& settings);

// Makes the source and the sink that `streams` names and the reporter that `style` and the
// settings describe, and runs the job in this process. Returns the exit status.
int RunAsThisProcess(const CommonSettings& settings, const RunProgram& program,
                     const StreamSettings& streams, const ConsoleStyle& style);
