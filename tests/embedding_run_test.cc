// The run driven in process, as each program drives it: a fake embedder, raw blocks from
// memory, and a sink that keeps what reaches it or fails as a full disk does.
#include "embedding_run.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "fake_embedder.h"

namespace {

using Calls = std::vector<std::string>;

class MemorySource : public AudioSource {
public:
    explicit MemorySource(uint64_t bytes) : bytes_(bytes) { format_ = WavPcmFormat{2, 48000, 16}; }
    void Open() override {}
    std::string Name() const override { return "memory"; }
    InputIdentity Identity() const override { return InputIdentity(); }
    ReadOutcome Read(AudioBlock& block) override {
        const uint64_t size = std::min<uint64_t>(samples_.size(), bytes_ - position_);
        if (size == 0) return ReadOutcome::kEnd;
        position_ += size;
        Deliver(size, block);
        return ReadOutcome::kBlock;
    }

private:
    const uint64_t bytes_;
    uint64_t position_ = 0;
};

class MemorySink : public AudioSink {
public:
    explicit MemorySink(bool full) : AudioSink("Unable to write output file"), full_(full) {}
    void CheckIsNotInput(const InputIdentity&) const override {}
    void Open(const WavPcmFormat& format, WavCarriedItems) override { format_ = format; }
    void Close() override { ended = "closed"; }
    void Discard() override { ended = "discarded"; }
    std::string ended;

private:
    uint64_t WriteBytes(uint8_t*, uint64_t size) override {
        if (!full_) return size;
        RecordFailure(CorvidaUtils::kIoError, WriteFailureContext(), "cannot write 'out.wav'",
                      ENOSPC);
        return 0;
    }
    const bool full_;
};

// A stop signal that arrives once this many blocks have been fed; -1 for none.
int blocksBeforeStop = -1;
int blocksFed = 0;

struct FakeRun {
    Calls calls;
    std::string console;
    std::string sinkEnded;
    RunOutcome outcome;
};

FakeRun RunFake(std::map<std::string, int32_t> results, bool fullDisk = false) {
    FakeRun run;
    RunProgram program;
    program.create = [&](Corvida::IEmbedderListener* listener,
                         Corvida::IPellionAudioEmbedder** embedder) {
        *embedder = new FakeEmbedder(listener, results, run.calls);
        return 0;
    };
    program.destroy = [](Corvida::IPellionAudioEmbedder*& embedder) {
        delete embedder;
        embedder = nullptr;
        return 0;
    };
    program.endJob = [](Corvida::IPellionAudioEmbedder& embedder) { return embedder.Finalize(); };
    program.informs = false;
    RunEnvironment environment;
    blocksFed = 0;
    environment.stopRequested = [] {
        return blocksBeforeStop >= 0 && blocksFed >= blocksBeforeStop;
    };
    environment.stopSignal = [] { return int{SIGINT}; };
    environment.feedingStarts = [] {};
    environment.waitUntil = [](int64_t) { ++blocksFed; };
    MemorySource source(5 * 2048);
    MemorySink sink(fullDisk);
    std::ostringstream console;
    run.outcome = RunEmbedding(CommonSettings(), program, source, sink, console, ListenerStyle(),
                               environment);
    run.console = console.str();
    run.sinkEnded = sink.ended;
    return run;
}

TEST(EmbeddingRunTest, TheSystemsReasonForLostOutputReachesTheResult) {
    const FakeRun run = RunFake({}, true);
    EXPECT_EQ(run.outcome.exitStatus, 44);
    EXPECT_EQ(run.outcome.result.message, "Unable to write output file");
    EXPECT_EQ(run.outcome.result.cause, "cannot write 'out.wav': No space left on device");
    EXPECT_EQ(run.console,
              "[ERROR] code 44 (An I/O error occurred). Unable to write output file\n\n");
    // Feeding stops at the block whose audio was lost; the job is still ended in order.
    EXPECT_EQ(std::count(run.calls.begin(), run.calls.end(), "AddAudioBuffer"), 1);
    EXPECT_EQ(run.calls.back(), "Finalize");
    EXPECT_EQ(run.sinkEnded, "closed");
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
        const FakeRun run = RunFake({{row.call, row.libraryCode}});
        EXPECT_EQ(run.outcome.exitStatus, row.exitStatus);
        EXPECT_EQ(run.outcome.result.message, row.context);
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
    EXPECT_EQ(
        run.console,
        "[INTERRUPTED] Stopped by SIGINT. The output holds 0.021 s of audio (1024 frames).\n");
    EXPECT_EQ(run.calls.back(), "Finalize");
}

}  // namespace
