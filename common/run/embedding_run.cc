#include "embedding_run.h"

#include <cstdlib>
#include <iostream>
#include <memory>

#include "code_exception.h"
#include "embedder_setup.h"
#include "kept_texts.h"
#include "result_codes.h"
#include "stop_signal.h"
#include "timecode_keeper.h"

namespace {

using CorvidaUtils::CodeException;
using CorvidaUtils::kSuccess;

// Thrown by the set-up once a stop signal has arrived: no audio has been handed over, so
// there is nothing to complete and the run ends at once.
struct StopBeforeAudio {};

// The embedder, released through the function of whoever made it.
class EmbedderHandle {
public:
    explicit EmbedderHandle(int32_t (*destroy)(Corvida::IPellionAudioEmbedder*&))
        : destroy_(destroy) {}
    EmbedderHandle(const EmbedderHandle&) = delete;
    EmbedderHandle& operator=(const EmbedderHandle&) = delete;
    ~EmbedderHandle() { reset(); }

    void reset() {
        if (embedder_ != nullptr) destroy_(embedder_);
        embedder_ = nullptr;
    }
    Corvida::IPellionAudioEmbedder** out() {
        reset();
        return &embedder_;
    }
    Corvida::IPellionAudioEmbedder* get() const { return embedder_; }

private:
    int32_t (*destroy_)(Corvida::IPellionAudioEmbedder*&);
    Corvida::IPellionAudioEmbedder* embedder_ = nullptr;
};

// How far the feeding got, and how it ended.
struct FeedProgress {
    uint64_t blocks = 0;  // blocks the embedder has taken
    uint64_t bytes = 0;   // their bytes as read
    bool endOfInput = false;
    bool stopped = false;  // a stop signal ended the feeding
};

void PrintInputLine(std::ostream& out, const std::string& inputName, const WavPcmFormat& format) {
    out << "Input file:" << inputName << " frequency:" << format.samplingRate
        << " channels:" << format.nbChannels << " bits per sample:" << format.bitsPerSample
        << std::endl;
}

// The timestamp travels with its block through the library to the listener, which frees it.
struct FreeTimestamp {
    void operator()(uint64_t* timestamp) const { std::free(timestamp); }
};
using Timestamp = std::unique_ptr<uint64_t, FreeTimestamp>;

class Run {
public:
    Run(const CommonSettings& settings, const RunProgram& program, AudioSource& source,
        AudioSink& sink, std::ostream& console, const ListenerStyle& style,
        const RunEnvironment& environment)
        : settings_(settings),
          program_(program),
          source_(source),
          sink_(sink),
          console_(console),
          environment_(environment),
          listener_(sink, console, style),
          embedder_(program.destroy) {}

    // The run up to the end of its input; what fails throws.
    void Embed();
    // Ends the job, completes the output, prints the result line.
    RunOutcome End();

    CorvidaUtils::RunResult result;

private:
    void ThrowIfStopRequested() const {
        if (environment_.stopRequested()) throw StopBeforeAudio();
    }
    void CheckOutput();
    void Feed();
    bool FeedingGoesOn();

    const CommonSettings& settings_;
    const RunProgram& program_;
    AudioSource& source_;
    AudioSink& sink_;
    std::ostream& console_;
    const RunEnvironment& environment_;
    // Declared before the embedder: the embedder calls it until it is destroyed.
    EmbedderListener listener_;
    EmbedderHandle embedder_;
    CorvidaUtils::ExceptionSdk library_;
    bool initialized_ = false;    // Initialize succeeded: the job must be ended
    bool outputStarted_ = false;  // the output path holds this run's output
    FeedProgress fed_;
};

void Run::Embed() {
    if (program_.informs) PrintVersionLine(console_);
    // Opening a FIFO waits for the other end, and a stop that came before cannot end that wait.
    ThrowIfStopRequested();
    source_.Open();
    ThrowIfStopRequested();
    const WavPcmFormat& format = source_.Format();
    if (program_.informs) PrintInputLine(console_, source_.Name(), format);
    CodeException rate;
    if (format.samplingRate != 48000) {
        rate.cause = "'" + source_.Name() + "' is at " + std::to_string(format.samplingRate) +
                     " Hz; resample it with: sox '" + source_.Name() + "' -r 48000 converted.wav";
    }
    rate.Check(format.samplingRate == 48000, CorvidaUtils::kWrongRate,
               "Only 48000Hz WAV files can be used");
    // Opening the output must not destroy the input.
    sink_.CheckIsNotInput(source_.Identity());
    if (program_.checkOutput) program_.checkOutput();
    ThrowIfStopRequested();
    sink_.Open(format, source_.TakeCarriedItems());
    ThrowIfStopRequested();

    library_.CheckResult(program_.create(&listener_, embedder_.out()), kept_text::kCreateFailed);
    // A library that reports success without an embedder is refused like a null pointer.
    if (embedder_.get() == nullptr) {
        CodeException().Raise(CorvidaUtils::kNullPointer, kept_text::kCreateFailed);
    }
    ThrowIfStopRequested();
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();
    if (program_.beforeSettings) {
        program_.beforeSettings(embedder);
        ThrowIfStopRequested();
    }
    ApplyThreadSettings(settings_, embedder, library_);
    ApplyAudioFormat(format, source_.Name(), embedder, library_);
    if (program_.chooseChannel) program_.chooseChannel(embedder, console_);
    ApplyRecordDirectory(settings_, embedder, library_);
    ThrowIfStopRequested();
    library_.CheckResult(embedder.Initialize(), "Initialize failed");
    initialized_ = true;
    source_.Prepare(kFramesPerBlock);

    Feed();
}

bool Run::FeedingGoesOn() {
    if (environment_.stopRequested()) fed_.stopped = true;
    return !fed_.stopped;
}

void Run::Feed() {
    ThrowIfStopRequested();
    environment_.feedingStarts();
    TimecodeKeeper timecode;
    AudioBlock block;
    while (FeedingGoesOn()) {
        const ReadOutcome read = source_.Read(block);
        if (read == ReadOutcome::kStopped) {
            fed_.stopped = true;
            break;
        }
        if (read == ReadOutcome::kEnd) {
            fed_.endOfInput = true;
            break;
        }
        if (source_.Paced()) {
            environment_.waitUntil(static_cast<int64_t>(block.mediaTime.value_or(0)));
        }
        const int64_t wallTime = ReadWallTime(timecode.previousWallTime());
        CodeException unconverted;
        timecode.BeforeBlock(wallTime, *embedder_.get(), unconverted);
        // A block of a paced input takes its media time along through the embedder to the
        // listener.
        Timestamp timestamp;
        if (block.mediaTime) {
            timestamp.reset(static_cast<uint64_t*>(std::malloc(sizeof(uint64_t))));
            CodeException().Check(timestamp != nullptr, CorvidaUtils::kMemoryError,
                                  program_.timestampFailure);
            *timestamp = *block.mediaTime;
        }
        // Before the first block: from here on the output path holds this run's output,
        // whatever ends the run. Not earlier: until audio flows, a stop leaves an existing
        // output as it was.
        if (fed_.blocks == 0) {
            outputStarted_ = true;
            sink_.Start();
            CheckOutput();
        }
        const int32_t added =
            embedder_.get()->AddAudioBuffer(block.data, block.size, timestamp.get());
        // A block the library takes comes back with its timestamp to the listener, which
        // frees it; a refused one leaves it here.
        if (added == 0) static_cast<void>(timestamp.release());
        library_.CheckResult(added, program_.addBufferFailure);
        ++fed_.blocks;
        fed_.bytes += block.inputSize;
        timecode.AfterBlock(wallTime);
        CheckOutput();
    }
}

// Lost output is a failure of the run, not something to report as a success: checked after
// every block, so that feeding stops at once, and at the end. An output given up after a stop
// signal is no failure: the feeding ends at the stop.
void Run::CheckOutput() {
    const SinkFailure failure = sink_.Failure();
    if (failure.code == kSuccess) return;
    CodeException checker;
    checker.cause = failure.cause;
    checker.Raise(failure.code, failure.context);
}

// One fixed order: the job is ended only after a successful Initialize, the embedder is
// destroyed before the output is completed (audio it returns while finalising or being
// destroyed still reaches the output), lost output is checked, and the one result line is
// printed last, when the output is complete.
RunOutcome Run::End() {
    // Until the output has been started there is nothing to save: a stop signal then ends the
    // run at once, whatever the call it interrupted reported, and the line can say that no
    // output was written.
    const bool stoppedBeforeAudio = environment_.stopRequested() && !outputStarted_;
    if (stoppedBeforeAudio) result = CorvidaUtils::RunResult();
    const bool jobStarted = initialized_ && !stoppedBeforeAudio;

    if (jobStarted) {
        const int32_t ended = program_.endJob(*embedder_.get());
        if (ended != 0) {
            result.code = library_.ConvertCode(ended);
            result.message = "Error finalizing embedder.";
            result.cause.clear();
        }
    }
    embedder_.reset();
    // A run whose job never started leaves the output path as it found it.
    if (jobStarted) {
        sink_.Close();
    } else {
        sink_.Discard();
    }
    // Blocks returned while finalising, and the completion of the WAV file, may fail too.
    if (result.code == kSuccess) CorvidaUtils::RunCatchingErrors([&] { CheckOutput(); }, result);

    listener_.EndProgressLine();
    RunOutcome outcome;
    outcome.framesWritten = sink_.FramesWritten();
    // An output given up after a stop took less than was fed, even when the feeding had
    // already reached the end of the input.
    outcome.interrupted = stoppedBeforeAudio || fed_.stopped || sink_.Abandoned();
    if (result.code == kSuccess && outcome.interrupted) {
        const int signalNumber = environment_.stopSignal();
        CorvidaUtils::PrintInterruptedLine(console_, StopSignalName(signalNumber),
                                           stoppedBeforeAudio, outcome.framesWritten,
                                           !sink_.Abandoned());
        outcome.result = result;
        outcome.exitStatus = CorvidaUtils::InterruptedExitStatus(signalNumber);
        return outcome;
    }
    outcome.interrupted = false;
    // The result line stays as callers parse it; what the system said, and of which object,
    // goes on a line of its own before it, on standard error, in silent mode too.
    if (result.code != kSuccess && !result.cause.empty()) {
        std::cerr << program_.name << ": " << result.cause << std::endl;
    }
    if (result.code == kSuccess && fed_.bytes == 0 && fed_.endOfInput) {
        // An upstream that failed before sending anything, or an empty file: the run is not
        // wrong, but its output holds no audio.
        std::cerr << "Warning: no audio was read from the input" << std::endl;
    }
    CorvidaUtils::PrintResultLine(console_, result, program_.informs, program_.printUsage);
    outcome.result = result;
    outcome.exitStatus = CorvidaUtils::ExitStatusFor(result.code);
    return outcome;
}

}  // namespace

RunOutcome RunEmbedding(const CommonSettings& settings, const RunProgram& program,
                        AudioSource& source, AudioSink& sink, std::ostream& console,
                        const ListenerStyle& style, const RunEnvironment& environment) {
    Run run(settings, program, source, sink, console, style, environment);
    CorvidaUtils::RunCatchingErrors(
        [&] {
            try {
                run.Embed();
            } catch (const StopBeforeAudio&) {
                // The end of the run tells a stop before the first block by itself.
            }
        },
        run.result);
    return run.End();
}
