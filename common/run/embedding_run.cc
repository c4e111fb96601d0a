#include "embedding_run.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "bypass_gate.h"
#include "code_exception.h"
#include "embedder_listener.h"
#include "embedder_setup.h"
#include "first_failure.h"
#include "kept_texts.h"
#include "result_codes.h"
#include "result_report.h"
#include "service_status.h"
#include "stop_signal.h"
#include "timecode_keeper.h"

namespace {

using CorvidaUtils::Raise;
using CorvidaUtils::Status;
using CorvidaUtils::ThrowIfFailed;
using SteadyClock = std::chrono::steady_clock;

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
    uint64_t frames = 0;
    bool endOfInput = false;
    bool stopped = false;  // a stop signal ended the feeding
};

// The timestamp travels with its block through the library to the listener, which frees it.
struct FreeTimestamp {
    void operator()(uint64_t* timestamp) const { std::free(timestamp); }
};
using Timestamp = std::unique_ptr<uint64_t, FreeTimestamp>;

double Seconds(SteadyClock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

class Run {
public:
    Run(const CommonSettings& settings, const RunProgram& program, AudioSource& source,
        AudioSink& sink, RunReporter& reporter, const RunEnvironment& environment)
        : settings_(settings),
          program_(program),
          source_(source),
          sink_(sink),
          reporter_(reporter),
          environment_(environment),
          listener_(sink, reporter, failure_),
          embedder_(program.destroy) {}

    // The run up to the end of its input; what fails throws. A stop signal before the first
    // block ends it early, with nothing more to do.
    void Embed();
    // Ends the job, completes the output, reports the end.
    RunOutcome End(Status result);

private:
    bool Stopped() const { return environment_.stopRequested(); }
    // Makes and sets up the embedder, up to Initialize; false when a stop signal came first.
    bool SetUpEmbedder();
    void Feed();
    // Hands a block to the embedder; with a bypass, a failed call switches the run to it.
    void FeedToEmbedder(const AudioBlock& block);
    // The embedder failed in `call`: the audio goes on unmarked, `block` (not taken) with it.
    void EnterBypass(const char* call, int32_t libraryCode, const Status& failed,
                     const AudioBlock* block);
    // While bypassing: sets the embedder up again once that is due.
    void RearmWhenDue();
    bool Bypassing() const { return gate_ && gate_->bypassing(); }
    bool FeedingGoesOn();
    // Lost output is a failure of the run, not something to report as a success: checked
    // after every block, so that feeding stops at once, and at the end. An output given up
    // after a stop signal is no failure: the feeding ends at the stop.
    void CheckOutput() const { ThrowIfFailed(failure_.Get()); }
    // What the source and the sink have to say, as soon as they have said it.
    void ReportRemarks();
    // An input that has sent nothing for over a second, and when it sends again.
    void ReportWaiting();
    void ReportArrival();

    const CommonSettings& settings_;
    const RunProgram& program_;
    AudioSource& source_;
    AudioSink& sink_;
    RunReporter& reporter_;
    const RunEnvironment& environment_;
    CorvidaUtils::FirstFailure failure_;
    // With a bypass: what the embedder holds (the listener writes through it), the first
    // failure it had, when to re-arm.
    std::unique_ptr<BypassGate> gate_;
    std::optional<Status> embedderFailure_;
    // Declared before the embedder: the embedder calls it until it is destroyed.
    EmbedderListener listener_;
    EmbedderHandle embedder_;
    SteadyClock::time_point rearmAt_;
    TimecodeKeeper timecode_;
    bool initialized_ = false;    // Initialize succeeded: the job must be ended
    bool outputStarted_ = false;  // the output path holds this run's output
    FeedProgress fed_;
    SteadyClock::time_point lastArrival_;
    bool stalled_ = false;
};

void Run::Embed() {
    RunStart start = program_.start;
    start.input = source_.Name();
    reporter_.Started(start);
    // Opening a FIFO waits for the other end, and a stop that came before cannot end that wait.
    if (Stopped()) return;
    source_.Open();
    ReportRemarks();
    if (Stopped()) return;
    const WavPcmFormat& format = source_.Format();
    reporter_.InputOpened(source_.Name(), format);
    if (format.samplingRate != 48000) {
        Raise(Status(CorvidaUtils::kWrongRate, "Only 48000Hz WAV files can be used",
                     "'" + source_.Name() + "' is at " + std::to_string(format.samplingRate) +
                         " Hz; resample it with: sox '" + source_.Name() +
                         "' -r 48000 converted.wav"));
    }
    // Opening the output must not destroy the input.
    sink_.CheckIsNotInput(source_.Identity());
    if (program_.checkOutput) program_.checkOutput();
    if (program_.beforeOutput) program_.beforeOutput(reporter_);
    if (Stopped()) return;
    sink_.Open(format, source_.TakeCarriedItems());
    ReportRemarks();
    if (Stopped()) return;

    if (program_.bypassRearmSeconds) {
        // Twenty seconds of audio in the embedder's form, far more than any embedder holds.
        gate_ = std::make_unique<BypassGate>(
            sink_, 20 * std::max<uint64_t>(format.samplingRate, 1) * source_.EmbedderFrameBytes());
        listener_.WriteThrough(gate_.get());
    }
    if (!SetUpEmbedder()) return;
    initialized_ = true;
    if (environment_.notifier) environment_.notifier->Ready(service_status::kMarking);
    source_.Prepare(kFramesPerBlock);

    Feed();
}

bool Run::SetUpEmbedder() {
    const WavPcmFormat& format = source_.Format();
    ThrowIfFailed(Status::FromLibrary(program_.create(&listener_, embedder_.out()),
                                      kept_text::kCreateFailed));
    // A library that reports success without an embedder is refused like a null pointer.
    if (embedder_.get() == nullptr) {
        Raise(Status(CorvidaUtils::kNullPointer, kept_text::kCreateFailed));
    }
    if (Stopped()) return false;
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();
    if (program_.beforeSettings) {
        program_.beforeSettings(embedder);
        if (Stopped()) return false;
    }
    ApplyThreadSettings(settings_, embedder);
    ApplyAudioFormat(format, source_.Name(), embedder);
    if (program_.chooseChannel) program_.chooseChannel(embedder, reporter_);
    ApplyRecordDirectory(settings_, embedder);
    if (Stopped()) return false;
    ThrowIfFailed(Status::FromLibrary(embedder.Initialize(), "Initialize failed"));
    return true;
}

bool Run::FeedingGoesOn() {
    if (Stopped()) fed_.stopped = true;
    return !fed_.stopped;
}

void Run::Feed() {
    if (Stopped()) return;
    environment_.feedingStarts();
    AudioBlock block;
    const uint64_t frameBytes = source_.Format().nbChannels * (source_.Format().bitsPerSample / 8);
    lastArrival_ = SteadyClock::now();
    while (FeedingGoesOn()) {
        const ReadOutcome read = source_.Read(block);
        ReportRemarks();
        if (read == ReadOutcome::kWaiting) {
            ReportWaiting();
            continue;
        }
        if (read == ReadOutcome::kStopped) {
            fed_.stopped = true;
            break;
        }
        if (read == ReadOutcome::kEnd) {
            fed_.endOfInput = true;
            break;
        }
        ReportArrival();
        std::optional<int64_t> lateness;
        if (source_.Paced()) {
            lateness = environment_.waitUntil(static_cast<int64_t>(block.mediaTime.value_or(0)));
        }
        // Before the first block: from here on the output path holds this run's output,
        // whatever ends the run. Not earlier: until audio flows, a stop leaves an existing
        // output as it was.
        if (fed_.blocks == 0) {
            outputStarted_ = true;
            failure_.Record(sink_.Start());
            ReportRemarks();
            CheckOutput();
        }
        if (Bypassing()) RearmWhenDue();
        if (Bypassing()) {
            failure_.Record(gate_->Unmarked(block.data, block.size));
        } else {
            FeedToEmbedder(block);
        }
        ++fed_.blocks;
        fed_.bytes += block.inputSize;
        fed_.frames += frameBytes > 0 ? block.inputSize / frameBytes : 0;
        CheckOutput();
        RunProgress progress;
        progress.framesRead = fed_.frames;
        progress.framesWritten = sink_.FramesWritten();
        if (lateness) progress.latenessMs = static_cast<double>(*lateness) / 10000.0;
        reporter_.Progress(progress);
        // The heartbeat: a loop held up by the input, the library or the output sends none.
        if (environment_.notifier) environment_.notifier->BlockFed(ServiceNotifier::Clock::now());
    }
}

void Run::FeedToEmbedder(const AudioBlock& block) {
    Corvida::IPellionAudioEmbedder& embedder = *embedder_.get();
    const int64_t wallTime = ReadWallTime(timecode_.previousWallTime());
    const Status resynchronized = timecode_.BeforeBlock(wallTime, embedder);
    if (!resynchronized.ok()) {
        if (!gate_) Raise(resynchronized);
        // Passed on unconverted, as its own code.
        EnterBypass("ResynchronizeTimecode", resynchronized.code(), resynchronized, &block);
        return;
    }
    // A block of a paced input takes its media time along through the embedder to the
    // listener.
    Timestamp timestamp;
    if (block.mediaTime) {
        timestamp.reset(static_cast<uint64_t*>(std::malloc(sizeof(uint64_t))));
        if (!timestamp) Raise(Status(CorvidaUtils::kMemoryError, program_.timestampFailure));
        *timestamp = *block.mediaTime;
    }
    if (gate_) gate_->Fed(block.data, block.size);
    const int32_t added = embedder.AddAudioBuffer(block.data, block.size, timestamp.get());
    // A block the library takes comes back with its timestamp to the listener, which frees
    // it; a refused one leaves it here.
    if (added == 0) {
        static_cast<void>(timestamp.release());
        timecode_.AfterBlock(wallTime);
        return;
    }
    Status refused = Status::FromLibrary(added, program_.addBufferFailure);
    if (!gate_) Raise(std::move(refused));
    gate_->Refused(block.size);
    EnterBypass("AddAudioBuffer", added, refused, &block);
}

void Run::EnterBypass(const char* call, int32_t libraryCode, const Status& failed,
                      const AudioBlock* block) {
    if (!embedderFailure_) embedderFailure_ = failed;
    uint64_t lostBytes = 0;
    failure_.Record(gate_->Bypass(lostBytes));
    const uint64_t frameBytes = source_.EmbedderFrameBytes();
    BypassReport report;
    report.call = call;
    report.libraryCode = libraryCode;
    report.result = failed;
    report.rearmSeconds = *program_.bypassRearmSeconds;
    report.framesLost = frameBytes > 0 ? lostBytes / frameBytes : 0;
    reporter_.Bypassed(report);
    if (environment_.notifier) {
        environment_.notifier->Status(service_status::BypassingSince(call, failed.code()));
    }
    if (block != nullptr) failure_.Record(gate_->Unmarked(block->data, block->size));
    rearmAt_ = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                        std::chrono::duration<double>(report.rearmSeconds));
}

void Run::RearmWhenDue() {
    if (SteadyClock::now() < rearmAt_) return;
    // The failed embedder goes; what it still gives back is dropped by the gate.
    embedder_.reset();
    bool ready = false;
    const Status setUp = CorvidaUtils::Catching([&] { ready = SetUpEmbedder(); });
    const double interval = *program_.bypassRearmSeconds;
    if (ready && setUp.ok()) {
        timecode_ = TimecodeKeeper();
        gate_->Rearmed();
        reporter_.Rearmed(Status(), 0);
        if (environment_.notifier) environment_.notifier->Status(service_status::kRearmed);
        return;
    }
    embedder_.reset();
    rearmAt_ = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                        std::chrono::duration<double>(interval));
    if (!setUp.ok()) reporter_.Rearmed(setUp, interval);
}

void Run::ReportRemarks() {
    for (const Remarks& remarks : {source_.TakeRemarks(), sink_.TakeRemarks()}) {
        for (const Remark& remark : remarks) {
            if (remark.warning) {
                reporter_.Warning(remark.text);
            } else {
                reporter_.Note(remark.text);
            }
        }
    }
}

void Run::ReportWaiting() {
    if (stalled_) return;
    stalled_ = true;
    reporter_.InputStalled(Seconds(SteadyClock::now() - lastArrival_), false);
}

void Run::ReportArrival() {
    const SteadyClock::time_point now = SteadyClock::now();
    if (stalled_) reporter_.InputStalled(Seconds(now - lastArrival_), true);
    stalled_ = false;
    lastArrival_ = now;
}

// One fixed order: the job is ended only after a successful Initialize, the embedder is
// destroyed before the output is completed (audio it returns while finalising or being
// destroyed still reaches the output), lost output is checked, and the end is reported last,
// when the output is complete.
RunOutcome Run::End(Status result) {
    if (environment_.notifier) environment_.notifier->Stopping();
    // Until the output has been started there is nothing to save: a stop signal then ends the
    // run at once, whatever the call it interrupted reported, and the line can say that no
    // output was written.
    const bool stoppedBeforeAudio = Stopped() && !outputStarted_;
    if (stoppedBeforeAudio) result = Status();
    const bool jobStarted = initialized_ && !stoppedBeforeAudio;

    // An embedder that failed is not ended: what it still gives back is dropped.
    if (jobStarted && !Bypassing()) {
        const int32_t ended = program_.endJob(*embedder_.get());
        Status failed = Status::FromLibrary(ended, "Error finalizing embedder.");
        if (ended != 0 && gate_) {
            // What it never gave back still goes out, unmarked.
            EnterBypass("Finalize", ended, failed, nullptr);
        } else if (ended != 0) {
            result = std::move(failed);
        }
    }
    embedder_.reset();
    // A run whose job never started, or whose input was refused for what it holds (standard
    // input that holds a WAV stream), leaves the output path as it found it.
    failure_.Record(jobStarted && !source_.Refused() ? sink_.Close() : sink_.Discard());
    ReportRemarks();
    // Blocks returned while finalising, and the completion of the WAV file, may fail too. A
    // run that went on without its embedder reports the embedder's first failure.
    if (result.ok()) result = failure_.Get();
    if (result.ok() && embedderFailure_) result = *embedderFailure_;

    RunEnd end;
    end.framesWritten = sink_.FramesWritten();
    // An output given up after a stop took less than was fed, even when the feeding had
    // already reached the end of the input.
    end.interrupted = result.ok() && (stoppedBeforeAudio || fed_.stopped || sink_.Abandoned());
    if (end.interrupted) {
        end.signalNumber = environment_.stopSignal();
        end.signalName = StopSignalName(end.signalNumber);
        end.beforeAudio = stoppedBeforeAudio;
        end.outputTookAll = !sink_.Abandoned();
        end.exitStatus = CorvidaUtils::InterruptedExitStatus(end.signalNumber);
    } else {
        if (result.ok() && fed_.bytes == 0 && fed_.endOfInput) {
            // An upstream that failed before sending anything, or an empty file: the run is
            // not wrong, but its output holds no audio.
            reporter_.Warning("Warning: no audio was read from the input");
        }
        end.exitStatus = CorvidaUtils::ExitStatusFor(result.code());
    }
    end.result = result;
    reporter_.Ended(end);
    RunOutcome outcome;
    outcome.result = std::move(result);
    outcome.exitStatus = end.exitStatus;
    outcome.interrupted = end.interrupted;
    outcome.framesWritten = end.framesWritten;
    return outcome;
}

}  // namespace

RunOutcome RunEmbedding(const CommonSettings& settings, const RunProgram& program,
                        AudioSource& source, AudioSink& sink, RunReporter& reporter,
                        const RunEnvironment& environment) {
    Run run(settings, program, source, sink, reporter, environment);
    Status result = CorvidaUtils::Catching([&] { run.Embed(); });
    return run.End(std::move(result));
}
