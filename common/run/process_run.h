// What a real process adds to its run: the answers to "-h", "--help" and "--version", the
// streams its command line names, the stop signal, and the pace of real time. Both programs'
// main end with these.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "argument_store.h"
#include "audio_streams.h"
#include "embedding_run.h"

// Once the command line has been read: the exit status of "-h" or "--help" (the settings
// reader has printed the usage text) and of "--version" (printed here), or nothing when the
// run goes on.
std::optional<int> AnswerHelpOrVersion(ArgumentStore& store, const std::string& programName);

// Where the lines of a run with these streams go, also before the streams are made (a
// command-line error and its usage text): standard error when standard output carries the
// audio, standard output otherwise.
std::ostream& ConsoleFor(const StreamSettings& streams);

// Makes the source and the sink that `streams` names and runs the job in this process, with
// `style` for its console. Returns the exit status.
int RunAsThisProcess(const CommonSettings& settings, const RunProgram& program,
                     const StreamSettings& streams, ListenerStyle style);
