// pellion-embed: embeds a watermark into a PCM WAV file or a raw PCM stream on standard
// input, writing a WAV file or raw PCM on standard output.
//
// The run, step by step, is EmbedAudio below: read the command line; open the input and
// check its rate; claim the output through the listener; create and configure the embedder;
// feed it blocks of 512 frames (a WAV file at the pace of real time). EndRun then ends the job,
// completes the output and prints the one result line. Every failure is a CodeException
// caught once, and its general result code is the exit status.
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "embedder_listener_sample.h"
#include "embedder_settings.h"
#include "embedder_setup.h"
#include "result_codes.h"
#include "run_end.h"
#include "run_state.h"
#include "run_steps.h"
#include "same_file.h"
#include "sample_conversion.h"
#include "stop_signal.h"
#include "timecode_keeper.h"

namespace {

using CorvidaUtils::kIoError;

// With raw audio on standard output, every console line goes to standard error.
std::ostream& Console(const EmbedderSettings& settings) {
    return settings.outputIsStdout ? std::cerr : std::cout;
}

// Checked after every block: a text, so that nothing is built unless output was lost.
const char* OutputFailureContext(const EmbedderSettings& settings) {
    return settings.outputIsStdout ? "Unable to write audio to standard output"
                                   : "Unable to write output file";
}

void ConfigureListener(PellionEmbedderListenerSample& listener, const EmbedderSettings& settings) {
    listener.outputIsStdout = settings.outputIsStdout;
    listener.silent = settings.silent;
    listener.stdinEndianness = settings.stdinEndianness;
    listener.console = &Console(settings);
}

void UseStandardInput(RunState& run, const EmbedderSettings& settings) {
    run.format = settings.stdinFormat;
    // A read takes whatever the pipe holds, up to the buffer's size, so buffering delays no
    // block and spares a system call for most of them. stdio uses the buffer until the
    // process exits: it cannot belong to an object that main destroys.
    static char stdinBuffer[64 * 1024];
    std::setvbuf(stdin, stdinBuffer, _IOFBF, sizeof stdinBuffer);
}

// The output must not destroy the input: not the named output (the same file under any
// name), and not standard output redirected onto the input (`1<>in.wav`, `>> in.wav`, a raw
// input's own file), which would overwrite its header or read back its own output for ever.
void ProtectTheInput(RunState& run, const EmbedderSettings& settings) {
    if (settings.outputIsStdout) {
        const bool same = settings.inputIsStdin
                              ? DescriptorsShareAFile(fileno(stdin), fileno(stdout))
                              : IsFileOnDescriptor(fileno(stdout), settings.inputFile);
        run.check.plain.Check(!same, kIoError, "Standard output is the input file");
    } else if (settings.inputIsStdin) {
        run.check.plain.Check(!IsFileOnDescriptor(fileno(stdin), settings.outputFile), kIoError,
                              "Output file is the input file");
    } else {
        CheckOutputIsNotInput(run, settings.inputFile, settings.outputFile);
    }
}

// The channel named on the command line, or else the first one the embedder lists.
void SelectChannel(RunState& run, const EmbedderSettings& settings,
                   Corvida::IPellionAudioEmbedder& embedder) {
    if (run.store.hasOption("--channelName")) {
        run.check.library.CheckResult(embedder.SetChannelName(settings.channelName.c_str()),
                                      "SetChannelName failed");
        return;
    }
    const ChannelList channels = GetChannelList(embedder, run.check.library);
    if (!settings.silent) PrintChannelList(Console(settings), channels);
    run.check.plain.Check(channels.names != nullptr && channels.count > 0, CorvidaUtils::kNoChannel,
                          "The embedder offers no channel to select");
    run.check.library.CheckResult(embedder.SetChannelName(channels.names[0]),
                                  "SetChannelName failed");
}

// Raw standard input, read a block at a time. False at the end of the input and after a stop
// signal.
bool ReadStandardInput(RunState& run) {
    AudioBuffer& samples = run.samples.buffer;
    uint64_t bytes = std::fread(samples.data, 1, samples.capacity, stdin);
    // Whole frames only: a partial one would fail the embedder, or pass downstream and
    // misalign every later reader of the output.
    const uint64_t frameBytes = run.format.nbChannels * (run.format.bitsPerSample / 8);
    const uint64_t partial = frameBytes > 0 ? bytes % frameBytes : 0;
    bytes -= partial;
    if (StopRequested()) {
        // The signal may have cut the read short in the middle of a frame.
        run.fed.stopped = true;
    } else if (std::ferror(stdin)) {
        // Bytes read before the error still make a block; the next read reports it.
        run.check.plain.Check(bytes > 0, kIoError, "Reading error");
    } else if (partial > 0) {
        // fread() comes back short only at the end of the input.
        std::cerr << "Warning: the input ended inside a frame; its last " << partial
                  << " bytes were dropped" << std::endl;
    }
    samples.size = bytes;
    if (bytes == 0 && !run.fed.stopped) run.fed.endOfInput = true;
    return bytes > 0;
}

// The next block, into the sample buffer. False at the end of the input, and after a stop
// signal: the run then ends as if the input had ended.
bool ReadBlock(RunState& run, const EmbedderSettings& settings, int64_t& frameCount,
               uint64_t& mediaTime) {
    if (!FeedingGoesOn(run)) return false;
    return settings.inputIsStdin ? ReadStandardInput(run)
                                 : ReadWavBlock(run, frameCount, mediaTime);
}

void Feed(RunState& run, const EmbedderSettings& settings,
          PellionEmbedderListenerSample& listener) {
    StartFeeding();
    TimecodeKeeper timecode;
    int64_t frameCount = kFramesPerBlock;
    uint64_t mediaTime = 0;
    while (ReadBlock(run, settings, frameCount, mediaTime)) {
        const int64_t wallTime = WaitForBlock(run, timecode, mediaTime);
        // A WAV block's media time goes with it through the embedder to the listener.
        std::unique_ptr<uint64_t> timestamp;
        if (!settings.inputIsStdin) timestamp = std::make_unique<uint64_t>(mediaTime);
        if (settings.stdinEndianness == "be") {
            AudioBuffer& samples = run.samples.buffer;
            SwapSampleBytes(samples.data, samples.size, run.format.bitsPerSample / 8);
        }
        StartOutput(run, listener.Output(), OutputFailureContext(settings));
        AddBlock(run, BlockForEmbedder(run), std::move(timestamp), "Add Audio Buffer failed");
        timecode.AfterBlock(wallTime);
        CheckOutput(run, listener.Output(), OutputFailureContext(settings));
    }
}

// The run up to the end of its input.
void EmbedAudio(RunState& run, EmbedderSettings& settings,
                PellionEmbedderListenerSample& listener) {
    run.store.parse(run.argc, run.argv);
    embedder_tool::readEmbedderSettings(run.store, settings);
    EndIfHelpWasAsked(run);

    ConfigureListener(listener, settings);
    if (!settings.silent) PrintVersionLine(Console(settings));
    CreateClock(run);
    if (settings.inputIsStdin) {
        UseStandardInput(run, settings);
    } else {
        OpenWavInput(run, settings.inputFile);
    }
    if (!settings.silent) {
        PrintInputLine(Console(settings), run,
                       settings.inputIsStdin ? "stdin" : settings.inputFile);
    }
    CheckSamplingRate(run);
    ProtectTheInput(run, settings);
    OpenOutput(run, listener, settings.outputFile);

    Corvida::IPellionAudioEmbedder& embedder = CreatedEmbedder(
        run, Corvida::CreatePellionAudioEmbedder(&listener, run.embedder.out(), nullptr));
    ApplyThreadSettings(run.store, settings, embedder, run.check.library);
    ApplyAudioFormat(run.format, embedder, run.check.library);
    SelectChannel(run, settings, embedder);
    ApplyRecordDirectory(run.store, settings, embedder, run.check.library);
    Initialize(run);
    AllocateSampleBuffer(run);

    Feed(run, settings, listener);
}

void EndJob(RunState& run) {
    const int32_t finalized = run.embedder->Finalize();
    if (finalized != 0) SetEndJobFailure(run, finalized);
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptorsOpen();
    InstallStopSignalHandlers();
    // Declared first: the embedder calls the listener until it is destroyed with the run.
    PellionEmbedderListenerSample listener;
    EmbedderSettings settings;
    RunState run(argc, argv);
    if (const std::optional<int> status =
            RunSteps(run, [&] { EmbedAudio(run, settings, listener); })) {
        return *status;
    }
    // A command-line error, with its usage text, goes where the command line said the console
    // goes; only the settings reader knows that before the settings are read.
    const bool commandLineError = run.result.code == CorvidaUtils::kCommandLineError;
    return EndRun(run, listener.Output(),
                  RunEnding{&EndJob,
                            commandLineError ? embedder_tool::consoleForCommandLineError(run.store)
                                             : Console(settings),
                            !settings.silent && !commandLineError,
                            [&](std::ostream& out) { embedder_tool::printUsage(argc, argv, out); },
                            OutputFailureContext(settings)});
}
