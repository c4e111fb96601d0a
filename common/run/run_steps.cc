#include "run_steps.h"

#include "result_codes.h"
#include "same_file.h"
#include "sample_conversion.h"
#include "wav_pcm_parser.h"

using CorvidaUtils::kIoError;
using CorvidaUtils::kMemoryError;

void EndIfHelpWasAsked(RunState& run) {
    if (run.store.hasOption("-h")) throw EndWithoutResultLine{0};
}

void CheckAllocated(RunState& run, bool allocated, const std::string& context) {
    run.check.plain.Check(allocated, kMemoryError, context);
}

void EndRunUnlessMade(const void* object) {
    if (object == nullptr) throw EndWithoutResultLine{kMemoryError};
}

void CreateClock(RunState& run) {
    run.clock.reset(CreateRenderingClock());
    EndRunUnlessMade(run.clock.get());
}

void OpenWavInput(RunState& run, const std::string& path) {
    run.reader.reset(CreateWavPcmParser());
    EndRunUnlessMade(run.reader.get());
    run.reader->SetStopCheck(&StopRequested);
    run.check.reader.CheckResult(run.reader->Open(path.c_str(), &run.format, false),
                                 "Unable to open input file");
    ThrowIfStopRequested();
}

void PrintInputLine(std::ostream& out, const RunState& run, const std::string& inputName) {
    out << "Input file:" << inputName << " frequency:" << run.format.samplingRate
        << " channels:" << run.format.nbChannels << " bits per sample:" << run.format.bitsPerSample
        << std::endl;
}

void CheckSamplingRate(RunState& run) {
    run.check.plain.Check(run.format.samplingRate == 48000, CorvidaUtils::kWrongRate,
                          "Only 48000Hz WAV files can be used");
}

void CheckOutputIsNotInput(RunState& run, const std::string& inputFile,
                           const std::string& outputFile) {
    run.check.plain.Check(!IsSameFile(inputFile, outputFile), kIoError,
                          "Output file is the input file");
}

void CheckListenerOpened(RunState& run, int32_t opened) {
    // Another run writing the same file would leave a splice of both.
    if (opened == kWavMuxerInUse) {
        run.check.writer.CheckResult(opened, "Output file is in use by another run");
    }
    run.check.writer.CheckResult(opened, "Unable to initialize embedder listener");
}

Corvida::IPellionAudioEmbedder& CreatedEmbedder(RunState& run, int32_t created) {
    run.check.library.CheckResult(created, "Create Pellion AudioEmbedder failed");
    if (!run.embedder) {
        run.check.plain.Raise(CorvidaUtils::kNullPointer, "Create Pellion AudioEmbedder failed");
    }
    ThrowIfStopRequested();
    return *run.embedder.get();
}

void Initialize(RunState& run) {
    ThrowIfStopRequested();
    run.check.library.CheckResult(run.embedder->Initialize(), "Initialize failed");
    run.initialized = true;
}

void AllocateSampleBuffer(RunState& run) {
    const uint64_t bytesPerSample = run.format.bitsPerSample / 8;
    CheckAllocated(
        run, run.samples.buffer.Allocate(run.format.nbChannels * kFramesPerBlock * bytesPerSample),
        "Error allocating audio data buffer");
}

void StartFeeding() {
    ThrowIfStopRequested();
    RestartCallsAfterStopSignal();
}

bool FeedingGoesOn(RunState& run) {
    if (StopRequested()) run.fed.stopped = true;
    return !run.fed.stopped;
}

bool ReadWavBlock(RunState& run, int64_t& frameCount, uint64_t& mediaTime) {
    const int32_t result = run.reader->Read(run.samples.buffer.data, &frameCount, &mediaTime);
    if (result != kWavParserEndOfData) run.check.reader.CheckResult(result, "Reading error");
    // A read that brings no whole frame ends the feeding: taken for a block, it would feed
    // empty blocks, for ever if the reader makes no progress.
    if (result == kWavParserEndOfData || frameCount <= 0) {
        run.fed.endOfInput = true;
        return false;
    }
    run.samples.buffer.size =
        run.format.nbChannels * static_cast<uint64_t>(frameCount) * (run.format.bitsPerSample / 8);
    return true;
}

int64_t WaitForBlock(RunState& run, TimecodeKeeper& timecode, uint64_t mediaTime) {
    run.clock->WaitUntil(static_cast<int64_t>(mediaTime));
    const int64_t wallTime = ReadWallTime(timecode.previousWallTime());
    timecode.BeforeBlock(wallTime, *run.embedder.get(), run.check.plain);
    return wallTime;
}

const AudioBuffer& BlockForEmbedder(RunState& run) {
    const AudioBuffer& samples = run.samples.buffer;
    if (run.format.bitsPerSample != 24) return samples;
    // Trailing bytes that make no whole sample are dropped.
    const uint64_t sampleCount = samples.size / 3;
    AudioBuffer& widened = run.widened.buffer;
    CheckAllocated(run, widened.Allocate(sampleCount * 4),
                   "Error allocating 24-bit conversion buffer");
    WidenSamples24To32(samples.data, sampleCount, widened.data);
    return widened;
}

void StartOutput(RunState& run, ListenerOutput& output, const char* context) {
    if (run.fed.blocks != 0) return;
    output.Start();
    CheckOutput(run, output, context);
}

void CheckOutput(RunState& run, const ListenerOutput& output, const char* context) {
    const int32_t result = output.Result();
    // An output given up after a stop signal failed nothing: the run ends as interrupted.
    if (result == kWavMuxerSuccess || result == ListenerOutput::kAbandonedAfterStop) return;
    if (result == kWavMuxerOutOfMemory)
        CheckAllocated(run, false, "Error allocating memory for the embedder's output");
    run.check.writer.CheckResult(result, context);
}
