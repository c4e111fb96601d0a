// pellion-embed-batch: embeds a tree of WAV files, or the pairs of a manifest, each once,
// with one pellion-embed process per file and several at once; a re-run skips what an
// earlier run delivered, and --shard splits the work among machines.
//
// main reads the command line, finds the pellion-embed beside its own executable, lists the
// work and takes its shard, runs the batch (RunBatch), prints the table and exits with 0 (all
// embedded or skipped), 60 (a file failed), 43 (command line), 44 (the batch's own input or
// output) or 128 + the signal after a stop signal.
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "batch_report.h"
#include "batch_run.h"
#include "batch_settings.h"
#include "code_exception.h"
#include "command_line_error.h"
#include "common_settings.h"
#include "process_reporter.h"
#include "result_codes.h"
#include "result_report.h"
#include "standard_descriptors.h"
#include "stop_signal.h"
#include "system_cause.h"
#include "work_list.h"

namespace {

// The exit status of a batch in which a file failed.
constexpr int kFileFailed = 60;

uint32_t CoresAvailable() {
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0) {
        return static_cast<uint32_t>(CPU_COUNT(&cores));
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1;
}

// The pellion-embed in this program's own directory, so that an installed prefix works.
std::string EmbedderBesideThisProgram(const char* argv0) {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = length > 0 ? std::string(path, static_cast<size_t>(length)) : argv0;
    const size_t slash = self.find_last_of('/');
    const std::string embedder =
        (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/pellion-embed";
    if (access(embedder.c_str(), X_OK) != 0) {
        const int error = errno;
        CorvidaUtils::Raise(CorvidaUtils::Status(
            CorvidaUtils::kIoError, "Unable to find pellion-embed beside the batch",
            SystemCause("cannot run '" + embedder + "'", error)));
    }
    return embedder;
}

std::string ReadManifestFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file.is_open() || file.bad()) {
        const int error = errno;
        CorvidaUtils::Raise(
            CorvidaUtils::Status(CorvidaUtils::kIoError, "Unable to read the manifest",
                                 SystemCause("cannot read manifest '" + path + "'", error)));
    }
    return text.str();
}

std::vector<WorkItem> ListWork(const BatchSettings& settings) {
    const std::vector<WorkItem> all =
        settings.inputDirectory ? ListInputTree(*settings.inputDirectory, *settings.outputDirectory)
                                : ParseManifest(ReadManifestFile(*settings.manifest),
                                                settings.outputDirectory.value_or(""));
    return TakeShard(all, settings.shardIndex, settings.shardCount);
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptorsOpen();
    InstallStopSignalHandlers();
    // A service manager's socket is the batch's, not each child's: a child would report
    // itself ready, and feed a watchdog meant for the batch.
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    ArgumentStore store;
    BatchSettings settings;
    bool answered = false;
    const auto printUsage = [](std::ostream& out) { batch_tool::printUsage(out); };
    ConsoleStyle style;
    style.program = "pellion-embed-batch";
    style.printUsage = printUsage;
    const CorvidaUtils::Status read = CorvidaUtils::Catching([&] {
        store.parse(argc, argv);
        if (helpAsked(store)) {
            PrintUsageText(printUsage);
            answered = true;
        } else if (versionAsked(store)) {
            PrintProgramVersion(style.program, std::nullopt);
            answered = true;
        } else {
            settings = batch_tool::readBatchSettings(store, CoresAvailable());
        }
    });
    // A failure of the batch itself is reported as the other programs report theirs: the cause
    // line, the result line, and for a command-line error the usage text.
    const auto reportFailure = [&](const CorvidaUtils::Status& failure) {
        RunEnd failed;
        failed.result = failure;
        failed.exitStatus = CorvidaUtils::ExitStatusFor(failure.code());
        ReporterSettings reporting;
        reporting.style = style;
        MakeProcessReporter(reporting)->Ended(failed);
        return failed.exitStatus;
    };
    if (!read.ok()) return reportFailure(read);
    if (answered) return 0;

    BatchEnd end;
    std::optional<BatchReport> report;
    const CorvidaUtils::Status result = CorvidaUtils::Catching([&] {
        BatchOptions options;
        options.embedder = EmbedderBesideThisProgram(argv[0]);
        options.channelName = settings.channelName;
        options.recordDirectory = settings.recordDirectory;
        options.paced = settings.paced;
        options.jobs = settings.jobs;
        const std::vector<WorkItem> items = ListWork(settings);
        report.emplace(std::cout, isatty(STDOUT_FILENO) == 1, settings.summaryPath);
        end = RunBatch(items, options, *report);
        report->End(end.stopped, end.notStarted);
    });
    if (!result.ok()) return reportFailure(result);
    if (StopRequested()) {
        report->Interrupted(StopSignalName(StopSignalNumber()), end.stopped, end.notStarted);
        return 128 + StopSignalNumber();
    }
    if (report->SummaryError()) {
        return reportFailure(
            CorvidaUtils::Status(CorvidaUtils::kIoError, "Unable to write the summary"));
    }
    return report->Failed() > 0 ? kFileFailed : CorvidaUtils::kSuccess;
}
