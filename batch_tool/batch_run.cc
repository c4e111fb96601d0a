#include "batch_run.h"

#include <poll.h>
#include <signal.h>

#include <cstring>
#include <map>
#include <memory>

#include "audio_duration.h"
#include "code_exception.h"
#include "embedder_child.h"
#include "output_delivery.h"
#include "result_report.h"
#include "stop_signal.h"

namespace {

// How long a poll waits at most: a stop signal that lands just before it is seen this late.
constexpr int kPollMilliseconds = 100;

struct Running {
    FileResult result;
    std::string inputState;
    std::unique_ptr<EmbedderChild> child;
    std::chrono::steady_clock::time_point start;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A failure of the batch's own part of a file, in the form of a result line.
void FailWith(FileResult& result, const CorvidaUtils::CodeException& failure) {
    const CorvidaUtils::Status& status = failure.status();
    result.outcome = Outcome::kFailed;
    result.exitStatus = status.code();
    result.resultLine = CorvidaUtils::ErrorLine(status);
    if (!status.cause().empty()) result.cause = "pellion-embed-batch: " + status.cause();
}

// A name that pellion-embed cannot take for an option or for a standard stream.
std::string AsFileName(const std::string& path) {
    return path[0] == '-' || path == "stdin" || path == "stdout" ? "./" + path : path;
}

bool EndedByStop(const ChildReport& report) {
    return report.signal != 0 || report.exitStatus == 128 + SIGTERM ||
           report.exitStatus == 128 + SIGINT || report.exitStatus == 128 + SIGHUP;
}

}  // namespace

std::vector<std::string> EmbedderArguments(const WorkItem& item, const BatchOptions& options) {
    std::vector<std::string> args = {AsFileName(item.input), TemporaryPathOf(item.output),
                                     "--silent"};
    if (!options.paced) args.push_back("--unpaced");
    if (options.channelName) args.push_back("--channelName=" + *options.channelName);
    if (options.recordDirectory) args.push_back("--record=" + *options.recordDirectory);
    return args;
}

BatchEnd RunBatch(const std::vector<WorkItem>& items, const BatchOptions& options,
                  BatchReport& report) {
    std::vector<FileResult> skipped, toEmbed;
    double audioToEmbed = 0;
    for (const WorkItem& item : items) {
        FileResult result;
        result.item = item;
        result.audioSeconds = AudioSecondsOf(item.input);
        if (AlreadyDelivered(item, options.channelName)) {
            result.outcome = Outcome::kSkipped;
            skipped.push_back(result);
        } else {
            audioToEmbed += result.audioSeconds.value_or(0);
            toEmbed.push_back(result);
        }
    }
    report.Begin(items.size(), audioToEmbed);
    for (const FileResult& result : skipped) report.FileEnded(result);

    BatchEnd end;
    std::vector<Running> running;
    size_t next = 0;
    bool stopping = false;
    while (running.size() > 0 || (next < toEmbed.size() && !StopRequested())) {
        while (running.size() < options.jobs && next < toEmbed.size() && !StopRequested()) {
            Running file;
            file.result = toEmbed[next++];
            file.start = std::chrono::steady_clock::now();
            try {
                PrepareOutput(file.result.item);
                file.inputState = InputState(file.result.item);
                file.child = std::make_unique<EmbedderChild>(
                    options.embedder, EmbedderArguments(file.result.item, options));
                running.push_back(std::move(file));
            } catch (const CorvidaUtils::CodeException& failure) {
                FailWith(file.result, failure);
                file.result.wallSeconds = SecondsSince(file.start);
                report.FileEnded(file.result);
            }
        }
        if (StopRequested() && !stopping) {
            stopping = true;
            for (const Running& file : running) file.child->Stop();
        }
        std::vector<pollfd> entries;
        for (const Running& file : running) file.child->AddPollEntries(entries);
        if (!entries.empty()) poll(entries.data(), entries.size(), kPollMilliseconds);
        for (auto it = running.begin(); it != running.end();) {
            if (!it->child->Pump()) {
                ++it;
                continue;
            }
            const ChildReport child = it->child->Finish();
            FileResult& result = it->result;
            result.exitStatus = child.exitStatus;
            result.resultLine = child.resultLine;
            result.cause = child.cause;
            result.cpuSeconds = child.cpuSeconds;
            if (child.exitStatus == 0) {
                try {
                    DeliverOutput(result.item, it->inputState, options.channelName);
                    result.outcome = Outcome::kEmbedded;
                } catch (const CorvidaUtils::CodeException& failure) {
                    FailWith(result, failure);
                }
            } else {
                DiscardOutput(result.item);
                if (!result.cause && child.signal != 0) {
                    result.cause = "pellion-embed-batch: pellion-embed was ended by signal " +
                                   std::to_string(child.signal) + " (" + strsignal(child.signal) +
                                   ")";
                }
            }
            result.wallSeconds = SecondsSince(it->start);
            if (stopping && result.outcome == Outcome::kFailed && EndedByStop(child)) {
                ++end.stopped;
            } else {
                report.FileEnded(result);
            }
            it = running.erase(it);
        }
        report.Tick();
    }
    end.notStarted = toEmbed.size() - next;
    return end;
}
