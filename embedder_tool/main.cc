// pellion-embed: embeds a watermark into a PCM WAV file or a raw PCM stream on standard
// input, writing a WAV file or raw PCM on standard output.
//
// The run: read the command line; open the input and check its rate; open the output
// through the listener; create and configure the embedder; feed it blocks of 512 frames (a
// WAV file at the pace of real time); finalise it; print one result line. Every failure is a
// CodeException caught once below, and its general result code is the exit status.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "argument_store.h"
#include "audio_buffer.h"
#include "code_exception.h"
#include "embedder_listener_sample.h"
#include "embedder_settings.h"
#include "embedder_setup.h"
#include "pellion_audio_embedder.h"
#include "rendering_clock.h"
#include "result_report.h"
#include "same_file.h"
#include "sample_conversion.h"
#include "scoped_object.h"
#include "stop_signal.h"
#include "timecode_keeper.h"
#include "wav_pcm_parser.h"

namespace {

using CorvidaUtils::CodeException;
using CorvidaUtils::ExceptionSdk;
using CorvidaUtils::ExceptionWavMuxer;
using CorvidaUtils::ExceptionWavParser;

constexpr int64_t kFramesPerBlock = 512;
constexpr int32_t kMemoryError = 5;
constexpr int32_t kWrongRate = 18;
constexpr int32_t kIoError = 44;
constexpr int32_t kNoChannel = 35;

class EmbeddingRun {
public:
    EmbeddingRun(int argc, char** argv) : argc_(argc), argv_(argv) {}
    int Run();

private:
    // Returns an exit status when the run ends before its ordinary end (help, or a clock or
    // reader that cannot be made).
    std::optional<int> SetUp();
    void Feed();
    bool ReadBlock(int64_t& frameCount, uint64_t& mediaTime);
    void Finalize();
    void CheckOutput();
    std::ostream& console() const { return settings_.outputIsStdout ? std::cerr : std::cout; }

    const int argc_;
    char** const argv_;

    PellionEmbedderListenerSample listener_;
    CodeException checker_;
    ExceptionWavParser parserChecker_;
    ExceptionWavMuxer muxerChecker_;
    ExceptionSdk sdkChecker_;
    ArgumentStore store_;
    EmbedderSettings settings_;

    ScopedObject<IRenderingClock, DestroyRenderingClock> clock_;
    ScopedObject<IWavPcmParser, DestroyWavPcmParser> reader_;
    ScopedObject<Corvida::IPellionAudioEmbedder, Corvida::DestroyPellionAudioEmbedder> embedder_;
    WavPcmFormat format_;
    ScopedAudioBuffer samples_;
    ScopedAudioBuffer widened_;
    bool initialized_ = false;
    CorvidaUtils::RunResult result_;
};

int EmbeddingRun::Run() {
    std::optional<int> earlyExit;
    CorvidaUtils::RunCatchingErrors(
        [&] {
            earlyExit = SetUp();
            if (!earlyExit) Feed();
        },
        result_);
    if (earlyExit) return *earlyExit;

    samples_.buffer.Release();
    widened_.buffer.Release();
    if (initialized_) Finalize();

    // The embedder goes before the listener is closed: audio it returns while being finalised
    // or destroyed still reaches the output, which is complete when the result line appears.
    clock_.reset();
    reader_.reset();
    embedder_.reset();
    listener_.Close();
    // Blocks returned while finalising, and the completion of the WAV file, may fail too.
    if (result_.code == 0) CorvidaUtils::RunCatchingErrors([&] { CheckOutput(); }, result_);

    if (result_.code == CorvidaUtils::kCommandLineErrorCode) {
        CorvidaUtils::PrintResultLine(
            embedder_tool::consoleForCommandLineError(store_), result_, false,
            [&](std::ostream& out) { embedder_tool::printUsage(argc_, argv_, out); });
    } else {
        CorvidaUtils::PrintResultLine(console(), result_, !settings_.silent, nullptr);
    }
    return CorvidaUtils::ExitStatusFor(result_.code);
}

std::optional<int> EmbeddingRun::SetUp() {
    store_.parse(argc_, argv_);
    embedder_tool::readEmbedderSettings(store_, settings_);
    if (store_.hasOption("-h")) return 0;

    listener_.outputIsStdout = settings_.outputIsStdout;
    listener_.silent = settings_.silent;
    listener_.stdinEndianness = settings_.stdinEndianness;
    listener_.console = &console();

    if (!settings_.silent) {
        PrintVersionLine(console());
    }

    clock_.reset(CreateRenderingClock());
    if (!clock_) return kMemoryError;

    if (settings_.inputIsStdin) {
        format_ = settings_.stdinFormat;
        std::setvbuf(stdin, nullptr, _IONBF, 0);
    } else {
        reader_.reset(CreateWavPcmParser());
        if (!reader_) return kMemoryError;
        parserChecker_.CheckResult(reader_->Open(settings_.inputFile.c_str(), &format_, false),
                                   "Unable to open input file");
    }

    if (!settings_.silent) {
        console() << "Input file:" << (settings_.inputIsStdin ? "stdin" : settings_.inputFile)
                  << " frequency:" << format_.samplingRate << " channels:" << format_.nbChannels
                  << " bits per sample:" << format_.bitsPerSample << std::endl;
    }
    checker_.Check(format_.samplingRate == 48000, kWrongRate, "Only 48000Hz WAV files can be used");

    // Creating the output would truncate the input before a single block is read, be it
    // the input file or the file that standard input was redirected from.
    if (!settings_.outputIsStdout) {
        const bool sameFile = settings_.inputIsStdin
                                  ? IsFileOnDescriptor(fileno(stdin), settings_.outputFile)
                                  : IsSameFile(settings_.inputFile, settings_.outputFile);
        checker_.Check(!sameFile, kIoError, "Output file is the input file");
    }
    muxerChecker_.CheckResult(
        listener_.Open(settings_.outputFile.c_str(), static_cast<int32_t>(format_.samplingRate),
                       static_cast<int32_t>(format_.nbChannels),
                       static_cast<int32_t>(format_.bitsPerSample)),
        "Unable to initialize embedder listener");

    sdkChecker_.CheckResult(
        Corvida::CreatePellionAudioEmbedder(&listener_, embedder_.out(), nullptr),
        "Create Pellion AudioEmbedder failed");
    sdkChecker_.CheckResult(embedder_ ? 0 : 2, "Create Pellion AudioEmbedder failed");
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();

    ApplyThreadSettings(store_, settings_, embedder, sdkChecker_);
    ApplyAudioFormat(format_, embedder, sdkChecker_);

    if (store_.hasOption("--channelName")) {
        sdkChecker_.CheckResult(embedder.SetChannelName(settings_.channelName.c_str()),
                                "SetChannelName failed");
    } else {
        const ChannelList channels = GetChannelList(embedder, sdkChecker_);
        if (!settings_.silent) PrintChannelList(console(), channels);
        checker_.Check(channels.names != nullptr && channels.count > 0, kNoChannel,
                       "The embedder offers no channel to select");
        sdkChecker_.CheckResult(embedder.SetChannelName(channels.names[0]),
                                "SetChannelName failed");
    }

    ApplyRecordDirectory(store_, settings_, embedder, sdkChecker_);
    sdkChecker_.CheckResult(embedder.Initialize(), "Initialize failed");
    initialized_ = true;

    const uint64_t bytesPerSample = format_.bitsPerSample / 8;
    checker_.Check(samples_.buffer.Allocate(format_.nbChannels * kFramesPerBlock * bytesPerSample),
                   kMemoryError, "Error allocating audio data buffer");
    return std::nullopt;
}

// Reads the next block into the sample buffer. False at the end of the input, and after a
// stop signal: the run then ends as if the input had ended.
bool EmbeddingRun::ReadBlock(int64_t& frameCount, uint64_t& mediaTime) {
    if (StopRequested()) return false;
    AudioBuffer& samples = samples_.buffer;
    if (!settings_.inputIsStdin) {
        const int32_t result = reader_->Read(samples.data, &frameCount, &mediaTime);
        if (result == kWavParserEndOfData) return false;
        parserChecker_.CheckResult(result, "Reading error");
        samples.size =
            format_.nbChannels * static_cast<uint64_t>(frameCount) * (format_.bitsPerSample / 8);
        return true;
    }
    uint64_t bytes = std::fread(samples.data, 1, samples.capacity, stdin);
    if (StopRequested()) {
        // The signal may have cut a read short in the middle of a frame.
        const uint64_t frameBytes = format_.nbChannels * (format_.bitsPerSample / 8);
        bytes -= frameBytes > 0 ? bytes % frameBytes : 0;
    } else if (bytes == 0 && std::ferror(stdin)) {
        checker_.Check(false, kIoError, "Reading error");
    }
    samples.size = bytes;
    return bytes > 0;
}

void EmbeddingRun::Feed() {
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();
    const uint64_t bytesPerSample = format_.bitsPerSample / 8;
    AudioBuffer& samples = samples_.buffer;
    AudioBuffer& widened = widened_.buffer;
    TimecodeKeeper timecode;
    int64_t frameCount = kFramesPerBlock;
    uint64_t mediaTime = 0;

    while (ReadBlock(frameCount, mediaTime)) {
        clock_->WaitUntil(static_cast<int64_t>(mediaTime));
        const int64_t wallTime = ReadWallTime(timecode.previousWallTime());
        timecode.BeforeBlock(wallTime, embedder, checker_);

        // The embedder hands the timestamp back with the watermarked block; the listener
        // deletes it.
        uint64_t* timestamp = settings_.inputIsStdin ? nullptr : new uint64_t(mediaTime);

        if (settings_.stdinEndianness == "be") {
            SwapSampleBytes(samples.data, samples.size, bytesPerSample);
        }
        const AudioBuffer* block = &samples;
        if (format_.bitsPerSample == 24) {
            const uint64_t sampleCount = samples.size / 3;
            if (!widened.Allocate(sampleCount * 4)) {
                delete timestamp;
                checker_.Check(false, kMemoryError, "Error allocating 24-bit conversion buffer");
            }
            WidenSamples24To32(samples.data, sampleCount, widened.data);
            block = &widened;
        }

        const int32_t added = embedder.AddAudioBuffer(block->data, block->size, timestamp);
        // A refused block never comes back to the listener, and neither does its timestamp.
        if (added != 0) delete timestamp;
        sdkChecker_.CheckResult(added, "Add Audio Buffer failed");
        timecode.AfterBlock(wallTime);
        CheckOutput();
    }
}

// Lost output is a failure of the run, not something to report as a success.
void EmbeddingRun::CheckOutput() {
    muxerChecker_.CheckResult(listener_.OutputResult(),
                              settings_.outputIsStdout ? "Unable to write audio to standard output"
                                                       : "Unable to write output file");
}

void EmbeddingRun::Finalize() {
    const int32_t finalized = embedder_->Finalize();
    if (finalized != 0) {
        result_.code = sdkChecker_.ConvertCode(finalized);
        result_.message = "Error finalizing embedder.";
    }
}

}  // namespace

int main(int argc, char** argv) {
    InstallStopSignalHandlers();
    EmbeddingRun run(argc, argv);
    return run.Run();
}
