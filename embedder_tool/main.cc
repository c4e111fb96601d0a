// pellion-embed: embeds a watermark into a PCM WAV file or a raw PCM stream on standard
// input, writing a WAV file or raw PCM on standard output.
//
// The run: read the command line; open the input and check its rate; open the output
// through the listener; create and configure the embedder; feed it blocks of 512 frames (a
// WAV file at the pace of real time); finalise it; print one result line. Every failure is a
// CodeException caught once, and its general result code is the exit status.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "embedder_listener_sample.h"
#include "embedder_settings.h"
#include "embedder_setup.h"
#include "embedding_run.h"
#include "sample_conversion.h"
#include "stop_signal.h"
#include "timecode_keeper.h"

namespace {

constexpr int32_t kNoChannel = 35;

class EmbedderRun : public EmbeddingRun<PellionEmbedderListenerSample> {
public:
    EmbedderRun(int argc, char** argv) : EmbeddingRun(argc, argv) {}

private:
    std::optional<int> SetUp() override;
    void SelectChannel(Corvida::IPellionAudioEmbedder& embedder);
    void Feed() override;
    bool ReadBlock(int64_t& frameCount, uint64_t& mediaTime);
    void EndJob() override;
    void PrintResult() override;
    std::string OutputFailureContext() const override;
    void ReleaseBuffers() override;

    // With raw audio on standard output, every console line goes to standard error.
    std::ostream& console() const { return settings_.outputIsStdout ? std::cerr : std::cout; }

    EmbedderSettings settings_;
    ScopedAudioBuffer widened_;
};

std::optional<int> EmbedderRun::SetUp() {
    store_.parse(argc_, argv_);
    embedder_tool::readEmbedderSettings(store_, settings_);
    if (store_.hasOption("-h")) return 0;

    listener_.outputIsStdout = settings_.outputIsStdout;
    listener_.silent = settings_.silent;
    listener_.stdinEndianness = settings_.stdinEndianness;
    listener_.console = &console();

    if (!settings_.silent) PrintVersionLine(console());

    clock_.reset(CreateRenderingClock());
    if (!clock_) return kMemoryError;

    if (settings_.inputIsStdin) {
        format_ = settings_.stdinFormat;
        // A read takes whatever the pipe holds, up to the buffer's size, so buffering delays
        // no block and spares a system call for most of them. stdio uses the buffer until
        // the process exits: it cannot belong to an object that main destroys.
        static char stdinBuffer[64 * 1024];
        std::setvbuf(stdin, stdinBuffer, _IOFBF, sizeof stdinBuffer);
    } else if (const std::optional<int> exit = OpenWavInput(settings_.inputFile)) {
        return exit;
    }

    if (!settings_.silent) {
        PrintInputLine(console(), settings_.inputIsStdin ? "stdin" : settings_.inputFile);
    }
    CheckSamplingRate();
    if (!settings_.outputIsStdout) {
        if (settings_.inputIsStdin) {
            // Raw input redirected from the output file would be lost the same way.
            checker_.Check(!IsFileOnDescriptor(fileno(stdin), settings_.outputFile), kIoError,
                           "Output file is the input file");
        } else {
            CheckOutputIsNotInput(settings_.inputFile, settings_.outputFile);
        }
    }
    OpenListener(settings_.outputFile);

    sdkChecker_.CheckResult(
        Corvida::CreatePellionAudioEmbedder(&listener_, embedder_.out(), nullptr),
        "Create Pellion AudioEmbedder failed");
    Corvida::IPellionAudioEmbedder& embedder = CreatedEmbedder();

    ApplyThreadSettings(store_, settings_, embedder, sdkChecker_);
    ApplyAudioFormat(format_, embedder, sdkChecker_);
    SelectChannel(embedder);
    ApplyRecordDirectory(store_, settings_, embedder, sdkChecker_);
    Initialize();
    AllocateSampleBuffer();
    return std::nullopt;
}

// The channel named on the command line, or else the first one the embedder lists.
void EmbedderRun::SelectChannel(Corvida::IPellionAudioEmbedder& embedder) {
    if (store_.hasOption("--channelName")) {
        sdkChecker_.CheckResult(embedder.SetChannelName(settings_.channelName.c_str()),
                                "SetChannelName failed");
        return;
    }
    const ChannelList channels = GetChannelList(embedder, sdkChecker_);
    if (!settings_.silent) PrintChannelList(console(), channels);
    checker_.Check(channels.names != nullptr && channels.count > 0, kNoChannel,
                   "The embedder offers no channel to select");
    sdkChecker_.CheckResult(embedder.SetChannelName(channels.names[0]), "SetChannelName failed");
}

// Reads the next block into the sample buffer. False at the end of the input, and after a
// stop signal: the run then ends as if the input had ended.
bool EmbedderRun::ReadBlock(int64_t& frameCount, uint64_t& mediaTime) {
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

void EmbedderRun::Feed() {
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

void EmbedderRun::ReleaseBuffers() {
    widened_.buffer.Release();
    EmbeddingRun::ReleaseBuffers();
}

void EmbedderRun::EndJob() {
    const int32_t finalized = embedder_->Finalize();
    if (finalized != 0) SetEndJobFailure(finalized);
}

std::string EmbedderRun::OutputFailureContext() const {
    return settings_.outputIsStdout ? "Unable to write audio to standard output"
                                    : "Unable to write output file";
}

void EmbedderRun::PrintResult() {
    if (result_.code == CorvidaUtils::kCommandLineErrorCode) {
        CorvidaUtils::PrintResultLine(
            embedder_tool::consoleForCommandLineError(store_), result_, false,
            [&](std::ostream& out) { embedder_tool::printUsage(argc_, argv_, out); });
        return;
    }
    CorvidaUtils::PrintResultLine(console(), result_, !settings_.silent, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    InstallStopSignalHandlers();
    EmbedderRun run(argc, argv);
    return run.Run();
}
