// The frame that both tools' runs share: the objects of a run, the single handler site that
// turns any failure into a result code, and the fixed order of the end. Each tool supplies
// the steps that differ (set-up, feeding, ending the job, printing the result line).
#pragma once

#include <cstdint>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>

#include "argument_store.h"
#include "audio_buffer.h"
#include "code_exception.h"
#include "pellion_audio_embedder.h"
#include "rendering_clock.h"
#include "result_report.h"
#include "same_file.h"
#include "scoped_object.h"
#include "stop_signal.h"
#include "wav_pcm_format.h"
#include "wav_pcm_muxer.h"
#include "wav_pcm_parser.h"

constexpr int64_t kFramesPerBlock = 512;
constexpr int32_t kMemoryError = 5;
constexpr int32_t kWrongRate = 18;
constexpr int32_t kIoError = 44;

template <typename Listener>
class EmbeddingRun {
public:
    EmbeddingRun(const EmbeddingRun&) = delete;
    EmbeddingRun& operator=(const EmbeddingRun&) = delete;
    virtual ~EmbeddingRun() = default;

    // The whole run; returns the exit status.
    int Run() {
        std::optional<int> earlyExit;
        bool stoppedBeforeAudio = false;
        CorvidaUtils::RunCatchingErrors(
            [&] {
                try {
                    earlyExit = SetUp();
                    if (!earlyExit) Feed();
                } catch (const StopBeforeAudio&) {
                    stoppedBeforeAudio = true;
                }
            },
            result_);
        if (earlyExit) return *earlyExit;
        // Until the first block has been handed over there is nothing to save: a stop signal
        // then ends the run at once, whatever the interrupted call reported.
        if (StopRequested() && blocksFed_ == 0) stoppedBeforeAudio = true;
        if (stoppedBeforeAudio) result_ = CorvidaUtils::RunResult();

        ReleaseBuffers();
        // Only an embedder that has been initialised has a job to end.
        if (initialized_ && !stoppedBeforeAudio) EndJob();

        // The embedder goes before the listener is closed: audio it returns while being
        // finalised or destroyed still reaches the output, which is complete when the result
        // line appears.
        clock_.reset();
        reader_.reset();
        embedder_.reset();
        // A run that never got its audio going leaves the output path as it found it.
        if (initialized_ && !stoppedBeforeAudio) {
            listener_.Close();
        } else {
            listener_.Discard();
        }
        // Blocks returned while finalising, and the completion of the WAV file, may fail too.
        if (result_.code == 0) CorvidaUtils::RunCatchingErrors([&] { CheckOutput(); }, result_);

        if (result_.code == 0 && (stoppedBeforeAudio || stoppedFeeding_)) {
            const int signalNumber = StopSignalNumber();
            CorvidaUtils::PrintInterruptedLine(Console(), signalNumber, stoppedBeforeAudio,
                                               OutputFrames());
            return CorvidaUtils::InterruptedExitStatus(signalNumber);
        }
        if (result_.code == 0 && bytesFed_ == 0 && endOfInput_) {
            // An upstream that failed before sending anything, or an empty file: the run is
            // not wrong, but its output holds no audio.
            std::cerr << "Warning: no audio was read from the input" << std::endl;
        }
        PrintResult();
        return CorvidaUtils::ExitStatusFor(result_.code);
    }

protected:
    EmbeddingRun(int argc, char** argv) : argc_(argc), argv_(argv) {}

    // Reads the command line and sets the embedder up, ending with a successful Initialize.
    // Returns an exit status for a run that ends without a result line.
    virtual std::optional<int> SetUp() = 0;
    // Hands the input to the embedder block by block.
    virtual void Feed() = 0;
    // Finalises the embedder; a failure replaces the run's result.
    virtual void EndJob() = 0;
    virtual void PrintResult() = 0;
    // Where the run's console lines go.
    virtual std::ostream& Console() const = 0;
    virtual std::string OutputFailureContext() const = 0;
    virtual void ReleaseBuffers() { samples_.buffer.Release(); }

    // Lost output is a failure of the run, not something to report as a success.
    void CheckOutput() {
        const int32_t output = listener_.OutputResult();
        // Runs once per block: the context message is built only for a failure.
        if (output != kWavMuxerSuccess) muxerChecker_.CheckResult(output, OutputFailureContext());
    }

    // Creates the WAV reader and opens the input. Returns an exit status when the reader
    // cannot be made.
    std::optional<int> OpenWavInput(const std::string& inputFile) {
        reader_.reset(CreateWavPcmParser());
        if (!reader_) return kMemoryError;
        parserChecker_.CheckResult(reader_->Open(inputFile.c_str(), &format_, false),
                                   "Unable to open input file");
        return std::nullopt;
    }

    void PrintInputLine(std::ostream& out, const std::string& inputName) const {
        out << "Input file:" << inputName << " frequency:" << format_.samplingRate
            << " channels:" << format_.nbChannels << " bits per sample:" << format_.bitsPerSample
            << std::endl;
    }

    void CheckSamplingRate() {
        checker_.Check(format_.samplingRate == 48000, kWrongRate,
                       "Only 48000Hz WAV files can be used");
    }

    // Opening the output truncates it: were it the input, the input would be lost before a
    // single block is read.
    void CheckOutputIsNotInput(const std::string& inputFile, const std::string& outputFile) {
        checker_.Check(!IsSameFile(inputFile, outputFile), kIoError,
                       "Output file is the input file");
    }

    void OpenListener(const std::string& outputFile) {
        const int32_t opened = listener_.Open(
            outputFile.c_str(), static_cast<int32_t>(format_.samplingRate),
            static_cast<int32_t>(format_.nbChannels), static_cast<int32_t>(format_.bitsPerSample));
        // Another run writing the same file would leave a splice of both.
        if (opened == kWavMuxerInUse) {
            muxerChecker_.CheckResult(opened, "Output file is in use by another run");
        }
        muxerChecker_.CheckResult(opened, "Unable to initialize embedder listener");
    }

    // A library that reports success without handing out an embedder.
    Corvida::IPellionAudioEmbedder& CreatedEmbedder() {
        sdkChecker_.CheckResult(embedder_ ? 0 : 2, "Create Pellion AudioEmbedder failed");
        return *embedder_.get();
    }

    void Initialize() {
        ThrowIfStopRequested();
        sdkChecker_.CheckResult(embedder_->Initialize(), "Initialize failed");
        initialized_ = true;
    }

    // Before the block loop: from here on a stop signal ends the feeding between two blocks,
    // and no call is cut short by it.
    void StartFeeding() {
        ThrowIfStopRequested();
        RestartCallsAfterStopSignal();
    }

    // Counts a block of `bytes` sample bytes that the embedder has taken.
    void BlockFed(uint64_t bytes) {
        ++blocksFed_;
        bytesFed_ += bytes;
    }

    uint64_t OutputFrames() const {
        const uint64_t frameBytes = format_.nbChannels * (format_.bitsPerSample / 8);
        return frameBytes > 0 ? listener_.BytesWritten() / frameBytes : 0;
    }

    void AllocateSampleBuffer() {
        const uint64_t bytesPerSample = format_.bitsPerSample / 8;
        checker_.Check(
            samples_.buffer.Allocate(format_.nbChannels * kFramesPerBlock * bytesPerSample),
            kMemoryError, "Error allocating audio data buffer");
    }

    // Replaces the run's result with a failed end of the job.
    void SetEndJobFailure(int32_t libraryCode) {
        result_.code = sdkChecker_.ConvertCode(libraryCode);
        result_.message = "Error finalizing embedder.";
    }

    const int argc_;
    char** const argv_;

    // Declared first so that it outlives the embedder, which may call it until destroyed.
    Listener listener_;
    CorvidaUtils::CodeException checker_;
    CorvidaUtils::ExceptionWavParser parserChecker_;
    CorvidaUtils::ExceptionWavMuxer muxerChecker_;
    CorvidaUtils::ExceptionSdk sdkChecker_;
    ArgumentStore store_;

    ScopedObject<IRenderingClock, DestroyRenderingClock> clock_;
    ScopedObject<IWavPcmParser, DestroyWavPcmParser> reader_;
    ScopedObject<Corvida::IPellionAudioEmbedder, Corvida::DestroyPellionAudioEmbedder> embedder_;
    WavPcmFormat format_;
    ScopedAudioBuffer samples_;
    bool initialized_ = false;
    uint64_t blocksFed_ = 0;
    uint64_t bytesFed_ = 0;
    // How the feeding loop ended: at the end of the input, or on a stop signal.
    bool endOfInput_ = false;
    bool stoppedFeeding_ = false;
    CorvidaUtils::RunResult result_;
};
