// The run driven in process, as each program drives it: a fake embedder, raw blocks from
// memory, a sink that keeps what reaches it or fails as a full disk does, and a reporter that
// records what the run tells.
#include "embedding_run.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>

#include "fake_embedder.h"
#include "recording_reporter.h"
#include "system_cause.h"

namespace {

using Calls = std::vector<std::string>;
using Lines = std::vector<std::string>;

class MemorySource : public AudioSource {
public:
    explicit MemorySource(uint64_t bytes, int waitsBeforeSecondBlock = 0)
        : bytes_(bytes), waits_(waitsBeforeSecondBlock) {
        format_ = WavPcmFormat{2, 48000, 16};
    }
    void Open() override {}
    std::string Name() const override { return "memory"; }
    InputIdentity Identity() const override { return InputIdentity(); }
    ReadOutcome Read(AudioBlock& block) override {
        if (position_ > 0 && waits_ > 0) {
            --waits_;
            return ReadOutcome::kWaiting;
        }
        const uint64_t size = std::min<uint64_t>(samples_.size(), bytes_ - position_);
        if (size == 0) return ReadOutcome::kEnd;
        position_ += size;
        Deliver(size, block);
        return ReadOutcome::kBlock;
    }

private:
    const uint64_t bytes_;
    int waits_;
    uint64_t position_ = 0;
};

class MemorySink : public AudioSink {
public:
    explicit MemorySink(bool full) : AudioSink("Unable to write output file"), full_(full) {}
    void CheckIsNotInput(const InputIdentity&) const override {}
    void Open(const WavPcmFormat& format, WavCarriedItems) override { format_ = format; }
    CorvidaUtils::Status Close() override {
        ended = "closed";
        return CorvidaUtils::Status();
    }
    CorvidaUtils::Status Discard() override {
        ended = "discarded";
        return CorvidaUtils::Status();
    }
    std::string ended;
    uint64_t bytes = 0;

private:
    CorvidaUtils::Status WriteBytes(uint8_t*, uint64_t size) override {
        if (full_) return Failure(CorvidaUtils::kIoError, "cannot write 'out.wav'", ENOSPC);
        bytes += size;
        Written(size);
        return CorvidaUtils::Status();
    }
    const bool full_;
};

// A stop signal that arrives once this many blocks have been fed; -1 for none.
int blocksBeforeStop = -1;
int blocksFed = 0;

struct FakeRun {
    Calls calls;
    Lines lines;
    std::string sinkEnded;
    uint64_t bytesWritten = 0;
    RunOutcome outcome;
};

FakeRun RunFake(FakeScript script, bool fullDisk = false, int waits = 0) {
    FakeRun run;
    RunProgram program;
    program.create = [&](Corvida::IEmbedderListener* listener,
                         Corvida::IPellionAudioEmbedder** embedder) {
        *embedder = new FakeEmbedder(listener, script, run.calls);
        return 0;
    };
    program.destroy = [](Corvida::IPellionAudioEmbedder*& embedder) {
        delete embedder;
        embedder = nullptr;
        return 0;
    };
    program.endJob = [](Corvida::IPellionAudioEmbedder& embedder) { return embedder.Finalize(); };
    RunEnvironment environment;
    blocksFed = 0;
    environment.stopRequested = [] {
        return blocksBeforeStop >= 0 && blocksFed >= blocksBeforeStop;
    };
    environment.stopSignal = [] { return int{SIGINT}; };
    environment.feedingStarts = [] {};
    environment.waitUntil = [](int64_t) -> std::optional<int64_t> {
        ++blocksFed;
        return 0;
    };
    MemorySource source(5 * 2048, waits);
    MemorySink sink(fullDisk);
    RecordingReporter reporter;
    run.outcome = RunEmbedding(CommonSettings(), program, source, sink, reporter, environment);
    run.lines = reporter.Lines();
    run.sinkEnded = sink.ended;
    run.bytesWritten = sink.bytes;
    return run;
}

TEST(EmbeddingRunTest, TheSystemsReasonForLostOutputReachesTheResult) {
    const FakeRun run = RunFake({});
    const FakeRun full = RunFake({}, true);
    EXPECT_EQ(full.outcome.exitStatus, 44);
    EXPECT_EQ(full.lines.back(), "ended 44 Unable to write output file|cannot write 'out.wav': " +
                                     SystemCause("x", ENOSPC).substr(3));
    // Feeding stops at the block whose audio was lost; the job is still ended in order.
    EXPECT_EQ(std::count(full.calls.begin(), full.calls.end(), "AddAudioBuffer"), 1);
    EXPECT_EQ(full.calls.back(), "Finalize");
    EXPECT_EQ(full.sinkEnded, "closed");
    EXPECT_EQ(run.lines.back(), "ended 0 |");
}

TEST(EmbeddingRunTest, LibraryFailuresEndTheRunInOrder) {
    struct Row {
        const char* call;
        int32_t libraryCode;
        int exitStatus;
        const char* context;
        bool jobStarted;
    };
    for (const Row& row : {Row{"SetChannels", 26, 17, "SetChannels failed", false},
                           Row{"Initialize", 13, 10, "Initialize failed", false},
                           Row{"AddAudioBuffer", 14, 11, "AddAudioBuffer failed", true},
                           Row{"Finalize", 23, 14, "Error finalizing embedder.", true}}) {
        SCOPED_TRACE(row.call);
        const FakeRun run = RunFake({{{row.call, row.libraryCode}}, {}, 0});
        EXPECT_EQ(run.outcome.exitStatus, row.exitStatus);
        EXPECT_EQ(run.outcome.result.context(), row.context);
        EXPECT_EQ(run.calls.back(), row.jobStarted ? "Finalize" : row.call);
        EXPECT_EQ(run.sinkEnded, row.jobStarted ? "closed" : "discarded");
    }
}

TEST(EmbeddingRunTest, StopSignalEndsTheFeedingAndTheResultLineSaysSo) {
    blocksBeforeStop = 2;
    const FakeRun run = RunFake({});
    blocksBeforeStop = -1;
    EXPECT_EQ(run.outcome.exitStatus, 130);
    EXPECT_TRUE(run.outcome.interrupted);
    EXPECT_EQ(run.outcome.framesWritten, 1024u);
    EXPECT_EQ(run.lines.back(), "ended 0 ||interrupted SIGINT");
    EXPECT_EQ(run.calls.back(), "Finalize");
}

// Audio the embedder holds back comes out while it is finalised, or, when finalising fails,
// while it is destroyed: either way it reaches the output before the run reports its end.
TEST(EmbeddingRunTest, AudioReturnedAtTheEndReachesTheOutputBeforeTheResult) {
    for (const int32_t finalized : {0, 23}) {
        SCOPED_TRACE(finalized);
        const FakeRun run = RunFake({{{"Finalize", finalized}}, {}, 2});
        EXPECT_EQ(run.bytesWritten, 5u * 2048);
        const Lines tail(run.lines.end() - 3, run.lines.end());
        EXPECT_EQ(tail,
                  (Lines{"block", "block",
                         finalized == 0 ? "ended 0 |" : "ended 14 Error finalizing embedder.|"}));
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "progress 1536"), 1);
    }
}

// The library's messages, a stalled input and its return all reach the reporter, in order.
TEST(EmbeddingRunTest, MessagesAndAStalledInputAreReported) {
    const FakeRun run = RunFake({{}, {{"Initialize", {{1, 7, "careful"}}}}, 0}, false, 3);
    const Lines expected = {"started memory", "input memory", "message 1 7 careful",
                            "block",          "progress 512", "stalled",
                            "resumed",        "block",        "progress 1024"};
    ASSERT_GE(run.lines.size(), expected.size());
    EXPECT_EQ(Lines(run.lines.begin(), run.lines.begin() + 9), expected);
}

}  // namespace
