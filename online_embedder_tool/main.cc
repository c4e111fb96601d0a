// pellion-embed-online: embeds a watermark into a PCM WAV file through an account of the
// online service, handing the embedder a JSON job description and, when finalising alone
// fails, sending the job report on.
//
// The run follows pellion-embed's, with these differences: WAV files only, every line
// printed, the embedder created against the online account, the metadata file handed over
// before any setting, the channel list printed but no channel selected, and the job ended
// with a report.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "embedder_listener_sample.h"
#include "embedder_setup.h"
#include "embedding_run.h"
#include "online_embedder_settings.h"
#include "password_scrubber.h"
#include "sample_conversion.h"
#include "stdio_file.h"
#include "stop_signal.h"
#include "timecode_keeper.h"

namespace {

constexpr size_t kMaxMetadataBytes = size_t{16} << 20;

class OnlineEmbedderRun : public EmbeddingRun<OnlinePellionEmbedderListenerSample> {
public:
    OnlineEmbedderRun(int argc, char** argv) : EmbeddingRun(argc, argv) {}

private:
    std::optional<int> SetUp() override;
    void HandOverMetadata(Corvida::IPellionAudioEmbedder& embedder);
    void Feed() override;
    void EndJob() override;
    void PrintResult() override;
    std::string OutputFailureContext() const override { return "Unable to write output file"; }
    std::ostream& Console() const override { return std::cout; }

    OnlineEmbedderSettings settings_;
};

std::optional<int> OnlineEmbedderRun::SetUp() {
    store_.parse(argc_, argv_);
    // The store keeps its own copies: the password need not stay readable in the process's
    // argument vector by every user of the machine for the whole run.
    ScrubPasswordArguments(argc_, argv_);
    online_tool::readOnlineSettings(store_, settings_);
    if (store_.hasOption("-h")) return 0;

    listener_.console = &std::cout;
    PrintVersionLine(std::cout);

    clock_.reset(CreateRenderingClock());
    if (!clock_) return kMemoryError;
    if (const std::optional<int> exit = OpenWavInput(settings_.inputFile)) return exit;
    ThrowIfStopRequested();

    PrintInputLine(std::cout, settings_.inputFile);
    CheckSamplingRate();
    CheckOutputIsNotInput(settings_.inputFile, settings_.outputFile);
    // Nor may it be the metadata file, which is read only after the output exists.
    checker_.Check(!IsSameFile(settings_.metadataPath, settings_.outputFile), kIoError,
                   "Output file is the metadata file");
    OpenListener(settings_.outputFile);
    ThrowIfStopRequested();

    sdkChecker_.CheckResult(
        Corvida::CreateOnlinePellionAudioEmbedder(
            &listener_, embedder_.out(), settings_.login.c_str(), settings_.password.c_str(),
            settings_.port, settings_.server.c_str()),
        "Create Pellion AudioEmbedder failed");
    Corvida::IPellionAudioEmbedder& embedder = CreatedEmbedder();

    HandOverMetadata(embedder);
    ApplyThreadSettings(store_, settings_, embedder, sdkChecker_);
    ApplyAudioFormat(format_, embedder, sdkChecker_);
    // Printed for the user's information; the online embedder picks its channel itself.
    PrintChannelList(std::cout, GetChannelList(embedder, sdkChecker_));
    ApplyRecordDirectory(store_, settings_, embedder, sdkChecker_);
    Initialize();
    AllocateSampleBuffer();
    return std::nullopt;
}

// The metadata file goes to the embedder byte for byte, unparsed; a NUL byte in it ends the
// text the embedder sees. It is opened and read once: a FIFO gives its content only once.
void OnlineEmbedderRun::HandOverMetadata(Corvida::IPellionAudioEmbedder& embedder) {
    std::string metadata;
    {
        const StdioFile file(std::fopen(settings_.metadataPath.c_str(), "rb"));
        checker_.Check(file != nullptr, kIoError, "Unable to open metadata file");
        // No job description comes near the limit; /dev/zero or a runaway file would
        // otherwise take all memory.
        char chunk[65536];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
            checker_.Check(metadata.size() + n <= kMaxMetadataBytes, kIoError,
                           "Metadata file is too large (more than 16 MiB)");
            metadata.append(chunk, n);
        }
        // A file that opens but cannot be read (a directory, an I/O error) must not reach the
        // embedder as an empty or cut-off job description.
        checker_.Check(!std::ferror(file.get()), kIoError, "Unable to read metadata file");
    }
    ThrowIfStopRequested();
    sdkChecker_.CheckResult(embedder.AddMetadata(metadata.c_str()), "AddMetadata failed");
}

void OnlineEmbedderRun::Feed() {
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();
    AudioBuffer& samples = samples_.buffer;
    TimecodeKeeper timecode;
    int64_t frameCount = kFramesPerBlock;
    uint64_t mediaTime = 0;

    StartFeeding();
    // A stop signal ends the feeding as the end of the file would.
    for (;;) {
        if (StopRequested()) {
            stoppedFeeding_ = true;
            break;
        }
        const int32_t read = reader_->Read(samples.data, &frameCount, &mediaTime);
        if (read == kWavParserEndOfData) {
            endOfInput_ = true;
            break;
        }
        parserChecker_.CheckResult(read, "Reading error");
        samples.size =
            static_cast<uint64_t>(frameCount) * format_.nbChannels * (format_.bitsPerSample / 8);

        clock_->WaitUntil(static_cast<int64_t>(mediaTime));
        const int64_t wallTime = ReadWallTime(timecode.previousWallTime());
        timecode.BeforeBlock(wallTime, embedder, checker_);

        // The embedder hands the timestamp back with the watermarked block; the listener
        // frees it.
        auto* timestamp = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t)));
        checker_.Check(timestamp != nullptr, kMemoryError, "");
        *timestamp = mediaTime;

        ScopedAudioBuffer widened;
        const AudioBuffer* block = &samples;
        if (format_.bitsPerSample == 24) {
            const uint64_t sampleCount = static_cast<uint64_t>(frameCount) * format_.nbChannels;
            if (!widened.buffer.Allocate(sampleCount * 4, true)) {
                std::free(timestamp);
                checker_.Check(false, kMemoryError, "Error allocating 24-bit conversion buffer");
            }
            WidenSamples24To32(samples.data, sampleCount, widened.buffer.data);
            block = &widened.buffer;
        }

        const int32_t added = embedder.AddAudioBuffer(block->data, block->size, timestamp);
        // A refused block never comes back to the listener, and neither does its timestamp.
        if (added != 0) std::free(timestamp);
        sdkChecker_.CheckResult(added, "AddAudioBuffer failed");
        BlockFed(samples.size);
        timecode.AfterBlock(wallTime);
        CheckOutput();
    }
}

// When finalising fails but hands back a report, sending the report on saves the job; only
// a failure to send it, or a failure without a report, fails the run.
void OnlineEmbedderRun::EndJob() {
    const char* report = nullptr;
    const int32_t finalized = embedder_->FinalizeWithReport(&report);
    if (finalized == 0) return;
    if (report != nullptr && report[0] != '\0') {
        const int32_t sent = embedder_->SendJobReport(report);
        if (sent != 0) SetEndJobFailure(sent);
        return;
    }
    SetEndJobFailure(finalized);
}

void OnlineEmbedderRun::PrintResult() {
    CorvidaUtils::PrintResultLine(std::cout, result_, true, [&](std::ostream& out) {
        online_tool::printUsage(argc_, argv_, out);
    });
}

}  // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptorsOpen();
    InstallStopSignalHandlers();
    OnlineEmbedderRun run(argc, argv);
    return run.Run();
}
