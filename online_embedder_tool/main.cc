// pellion-embed-online: embeds a watermark into a PCM WAV file through an account of the
// online service, handing the embedder a JSON job description and, when finalising alone
// fails, sending the job report on.
//
// The run, step by step, is EmbedAudio below. It follows pellion-embed's, with these
// differences: WAV files only, every line printed, the embedder created against the online
// account, the metadata file handed over before any setting, the channel list printed but no
// channel selected, and the job ended with a report (EndJob).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "embedder_listener_sample.h"
#include "embedder_setup.h"
#include "online_embedder_settings.h"
#include "password_scrubber.h"
#include "result_codes.h"
#include "run_end.h"
#include "run_state.h"
#include "run_steps.h"
#include "same_file.h"
#include "stdio_file.h"
#include "stop_signal.h"
#include "timecode_keeper.h"

namespace {

using CorvidaUtils::kIoError;

// No job description comes near this; /dev/zero or a runaway file would otherwise take all
// memory.
constexpr size_t kMaxMetadataBytes = size_t{16} << 20;

const char kOutputFailureContext[] = "Unable to write output file";

// The timestamp travels through the library to the listener, which frees it with free().
struct FreeDeleter {
    void operator()(uint64_t* timestamp) const { std::free(timestamp); }
};
using Timestamp = std::unique_ptr<uint64_t, FreeDeleter>;

// The metadata file goes to the embedder byte for byte, unparsed; a NUL byte in it ends the
// text the embedder sees. It is opened and read once: a FIFO gives its content only once.
void HandOverMetadata(RunState& run, const OnlineEmbedderSettings& settings,
                      Corvida::IPellionAudioEmbedder& embedder) {
    std::string metadata;
    {
        const StdioFile file(std::fopen(settings.metadataPath.c_str(), "rb"));
        run.check.plain.Check(file != nullptr, kIoError, "Unable to open metadata file");
        char chunk[65536];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
            run.check.plain.Check(metadata.size() + n <= kMaxMetadataBytes, kIoError,
                                  "Metadata file is too large (more than 16 MiB)");
            metadata.append(chunk, n);
        }
        // A file that opens but cannot be read (a directory, an I/O error) must not reach the
        // embedder as an empty or cut-off job description.
        run.check.plain.Check(!std::ferror(file.get()), kIoError, "Unable to read metadata file");
    }
    ThrowIfStopRequested();
    run.check.library.CheckResult(embedder.AddMetadata(metadata.c_str()), "AddMetadata failed");
}

void Feed(RunState& run, OnlinePellionEmbedderListenerSample& listener) {
    StartFeeding();
    TimecodeKeeper timecode;
    int64_t frameCount = kFramesPerBlock;
    uint64_t mediaTime = 0;
    while (FeedingGoesOn(run) && ReadWavBlock(run, frameCount, mediaTime)) {
        const int64_t wallTime = WaitForBlock(run, timecode, mediaTime);
        Timestamp timestamp(static_cast<uint64_t*>(std::malloc(sizeof(uint64_t))));
        CheckAllocated(run, timestamp != nullptr, "");
        *timestamp = mediaTime;
        StartOutput(run, listener.Output(), kOutputFailureContext);
        AddBlock(run, BlockForEmbedder(run), std::move(timestamp), "AddAudioBuffer failed");
        timecode.AfterBlock(wallTime);
        CheckOutput(run, listener.Output(), kOutputFailureContext);
    }
}

// The run up to the end of its input.
void EmbedAudio(RunState& run, OnlineEmbedderSettings& settings,
                OnlinePellionEmbedderListenerSample& listener) {
    run.store.parse(run.argc, run.argv);
    // The store keeps its own copies: the password need not stay readable in the process's
    // argument vector by every user of the machine for the whole run.
    ScrubPasswordArguments(run.argc, run.argv);
    online_tool::readOnlineSettings(run.store, settings);
    EndIfHelpWasAsked(run);

    listener.console = &std::cout;
    PrintVersionLine(std::cout);
    CreateClock(run);
    OpenWavInput(run, settings.inputFile);
    PrintInputLine(std::cout, run, settings.inputFile);
    CheckSamplingRate(run);
    CheckOutputIsNotInput(run, settings.inputFile, settings.outputFile);
    // Nor may it be the metadata file, which is read only after the output exists.
    run.check.plain.Check(!IsSameFile(settings.metadataPath, settings.outputFile), kIoError,
                          "Output file is the metadata file");
    OpenOutput(run, listener, settings.outputFile);

    Corvida::IPellionAudioEmbedder& embedder = CreatedEmbedder(
        run, Corvida::CreateOnlinePellionAudioEmbedder(
                 &listener, run.embedder.out(), settings.login.c_str(), settings.password.c_str(),
                 settings.port, settings.server.c_str()));
    HandOverMetadata(run, settings, embedder);
    ApplyThreadSettings(run.store, settings, embedder, run.check.library);
    ApplyAudioFormat(run.format, embedder, run.check.library);
    // Printed for the user's information; the online embedder picks its channel itself.
    PrintChannelList(std::cout, GetChannelList(embedder, run.check.library));
    ApplyRecordDirectory(run.store, settings, embedder, run.check.library);
    Initialize(run);
    AllocateSampleBuffer(run);

    Feed(run, listener);
}

// When finalising fails but hands back a report, sending the report on saves the job; only
// a failure to send it, or a failure without a report, fails the run.
void EndJob(RunState& run) {
    const char* report = nullptr;
    const int32_t finalized = run.embedder->FinalizeWithReport(&report);
    if (finalized == 0) return;
    if (report != nullptr && report[0] != '\0') {
        const int32_t sent = run.embedder->SendJobReport(report);
        if (sent != 0) SetEndJobFailure(run, sent);
        return;
    }
    SetEndJobFailure(run, finalized);
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptorsOpen();
    InstallStopSignalHandlers();
    // Declared first: the embedder calls the listener until it is destroyed with the run.
    OnlinePellionEmbedderListenerSample listener;
    OnlineEmbedderSettings settings;
    RunState run(argc, argv);
    if (const std::optional<int> status =
            RunSteps(run, [&] { EmbedAudio(run, settings, listener); })) {
        return *status;
    }
    return EndRun(run, listener.Output(),
                  RunEnding{&EndJob, std::cout, true,
                            [&](std::ostream& out) { online_tool::printUsage(argc, argv, out); },
                            kOutputFailureContext});
}
