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
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "argument_store.h"
#include "audio_buffer.h"
#include "code_exception.h"
#include "embedder_listener_sample.h"
#include "embedder_setup.h"
#include "online_embedder_settings.h"
#include "password_scrubber.h"
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

class OnlineEmbeddingRun {
public:
    OnlineEmbeddingRun(int argc, char** argv) : argc_(argc), argv_(argv) {}
    int Run();

private:
    std::optional<int> SetUp();
    void HandOverMetadata(Corvida::IPellionAudioEmbedder& embedder);
    void Feed();
    void FinalizeJob();
    void CheckOutput();

    const int argc_;
    char** const argv_;

    OnlinePellionEmbedderListenerSample listener_;
    CodeException checker_;
    ExceptionWavParser parserChecker_;
    ExceptionWavMuxer muxerChecker_;
    ExceptionSdk sdkChecker_;
    ArgumentStore store_;
    OnlineEmbedderSettings settings_;

    ScopedObject<IRenderingClock, DestroyRenderingClock> clock_;
    ScopedObject<IWavPcmParser, DestroyWavPcmParser> reader_;
    ScopedObject<Corvida::IPellionAudioEmbedder, Corvida::DestroyPellionAudioEmbedder> embedder_;
    WavPcmFormat format_;
    ScopedAudioBuffer samples_;
    bool initialized_ = false;
    CorvidaUtils::RunResult result_;
};

int OnlineEmbeddingRun::Run() {
    std::optional<int> earlyExit;
    CorvidaUtils::RunCatchingErrors(
        [&] {
            earlyExit = SetUp();
            if (!earlyExit) Feed();
        },
        result_);
    if (earlyExit) return *earlyExit;

    samples_.buffer.Release();
    if (initialized_) FinalizeJob();

    clock_.reset();
    reader_.reset();
    embedder_.reset();
    listener_.Close();
    if (result_.code == 0) CorvidaUtils::RunCatchingErrors([&] { CheckOutput(); }, result_);

    CorvidaUtils::PrintResultLine(std::cout, result_, true, [&](std::ostream& out) {
        online_tool::printUsage(argc_, argv_, out);
    });
    return result_.code;
}

std::optional<int> OnlineEmbeddingRun::SetUp() {
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
    reader_.reset(CreateWavPcmParser());
    if (!reader_) return kMemoryError;
    parserChecker_.CheckResult(reader_->Open(settings_.inputFile.c_str(), &format_, false),
                               "Unable to open input file");

    std::cout << "Input file:" << settings_.inputFile << " frequency:" << format_.samplingRate
              << " channels:" << format_.nbChannels << " bits per sample:" << format_.bitsPerSample
              << std::endl;
    checker_.Check(format_.samplingRate == 48000, kWrongRate, "Only 48000Hz WAV files can be used");

    // Creating the output would truncate the input before a single block is read, or the
    // metadata file before it is handed over.
    checker_.Check(!IsSameFile(settings_.inputFile, settings_.outputFile), kIoError,
                   "Output file is the input file");
    checker_.Check(!IsSameFile(settings_.metadataPath, settings_.outputFile), kIoError,
                   "Output file is the metadata file");
    muxerChecker_.CheckResult(
        listener_.Open(settings_.outputFile.c_str(), static_cast<int32_t>(format_.samplingRate),
                       static_cast<int32_t>(format_.nbChannels),
                       static_cast<int32_t>(format_.bitsPerSample)),
        "Unable to initialize embedder listener");

    sdkChecker_.CheckResult(
        Corvida::CreateOnlinePellionAudioEmbedder(
            &listener_, embedder_.out(), settings_.login.c_str(), settings_.password.c_str(),
            settings_.port, settings_.server.c_str()),
        "Create Pellion AudioEmbedder failed");
    sdkChecker_.CheckResult(embedder_ ? 0 : 2, "Create Pellion AudioEmbedder failed");
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();

    HandOverMetadata(embedder);
    ApplyThreadSettings(store_, settings_, embedder, sdkChecker_);
    ApplyAudioFormat(format_, embedder, sdkChecker_);
    PrintChannelList(std::cout, GetChannelList(embedder, sdkChecker_));
    ApplyRecordDirectory(store_, settings_, embedder, sdkChecker_);
    sdkChecker_.CheckResult(embedder.Initialize(), "Initialize failed");
    initialized_ = true;

    const uint64_t bytesPerSample = format_.bitsPerSample / 8;
    checker_.Check(samples_.buffer.Allocate(format_.nbChannels * kFramesPerBlock * bytesPerSample),
                   kMemoryError, "Error allocating audio data buffer");
    return std::nullopt;
}

// The metadata file goes to the embedder byte for byte, unparsed; a NUL byte in it ends the
// text the embedder sees.
void OnlineEmbeddingRun::HandOverMetadata(Corvida::IPellionAudioEmbedder& embedder) {
    {
        std::FILE* probe = std::fopen(settings_.metadataPath.c_str(), "rb");
        checker_.Check(probe != nullptr, kIoError, "Unable to open metadata file");
        std::fclose(probe);
    }
    std::string metadata;
    {
        const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(
            std::fopen(settings_.metadataPath.c_str(), "rb"), &std::fclose);
        checker_.Check(file != nullptr, kIoError, "Unable to open metadata file");
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) metadata.append(chunk, n);
        // A file that opens but cannot be read (a directory, an I/O error) must not reach the
        // embedder as an empty or cut-off job description.
        checker_.Check(!std::ferror(file.get()), kIoError, "Unable to read metadata file");
    }
    sdkChecker_.CheckResult(embedder.AddMetadata(metadata.c_str()), "AddMetadata failed");
}

void OnlineEmbeddingRun::Feed() {
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();
    AudioBuffer& samples = samples_.buffer;
    TimecodeKeeper timecode;
    int64_t frameCount = kFramesPerBlock;
    uint64_t mediaTime = 0;

    while (!StopRequested()) {
        const int32_t read = reader_->Read(samples.data, &frameCount, &mediaTime);
        if (read == kWavParserEndOfData) break;
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
        timecode.AfterBlock(wallTime);
        CheckOutput();
    }
}

// Lost output is a failure of the run, not something to report as a success.
void OnlineEmbeddingRun::CheckOutput() {
    muxerChecker_.CheckResult(listener_.OutputResult(), "Unable to write output file");
}

// When finalising fails but hands back a report, sending the report on saves the job; only
// a failure to send it, or a failure without a report, fails the run.
void OnlineEmbeddingRun::FinalizeJob() {
    const char* report = nullptr;
    const int32_t finalized = embedder_->FinalizeWithReport(&report);
    if (finalized == 0) return;
    int32_t failure = finalized;
    if (report != nullptr && report[0] != '\0') {
        failure = embedder_->SendJobReport(report);
        if (failure == 0) return;
    }
    result_.code = sdkChecker_.ConvertCode(failure);
    result_.message = "Error finalizing embedder.";
}

}  // namespace

int main(int argc, char** argv) {
    InstallStopSignalHandlers();
    OnlineEmbeddingRun run(argc, argv);
    return run.Run();
}
