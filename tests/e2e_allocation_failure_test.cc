// Memory that cannot be had ends a run one way, whichever allocation fails: code 5 and a line
// that says what was being allocated, the job finalised when it had started, and a complete
// output. A preloaded hook (tests/alloc_fault) fails the chosen allocation of a real run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_online_support.h"

namespace {

const char kNoMemory[] =
    "[ERROR] code 5 (Memory Allocation error - System cannot allocate memory). ";

struct Failure {
    std::string name;
    bool online;
    int bits;
    std::string rule;     // PELLION_TEST_FAIL_ALLOC
    std::string context;  // after "). " on the result line
};

void PrintTo(const Failure& failure, std::ostream* out) {
    *out << failure.name;
}

struct HookedRun {
    ProcessResult process;
    std::vector<std::string> trace;
    WrittenWav output;
};

// Seven channels give every buffer of the run a size of its own: 512 frames of 7-channel
// audio are 7168 bytes at 16 bits, 10752 at 24 bits (the sample buffer), and 14336 as 32-bit
// words (the conversion buffer).
HookedRun RunHooked(bool online, int bits, const std::string& rule) {
    OnlineJob job;
    job.SetInput(7, bits, TestSamples(3 * 512, 7, bits));
    std::vector<std::string> args = job.Args();
    if (!online) args.resize(2);
    ProcessOptions options = job.Options(args);
    options.env["LD_PRELOAD"] = PELLION_ALLOC_FAULT_LIBRARY;
    options.env["PELLION_TEST_FAIL_ALLOC"] = rule;
    HookedRun run;
    run.process = RunProcess(online ? OnlineEmbedderToolPath() : EmbedderToolPath(), options);
    run.trace = job.Trace();
    run.output = ReadWrittenWav(job.output());
    return run;
}

class E2eAllocationFailureTest : public testing::TestWithParam<Failure> {};

TEST_P(E2eAllocationFailureTest, EndsTheRunWithCode5AndACompleteOutput) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime must be the first library loaded: no preloading";
#endif
    const Failure& failure = GetParam();
    const HookedRun run = RunHooked(failure.online, failure.bits, failure.rule);
    ASSERT_EQ(run.process.signal, 0) << run.process.err;
    EXPECT_EQ(run.process.exitStatus, 5) << run.process.out << run.process.err;
    EXPECT_EQ(LastConsoleLine(run.process.out), kNoMemory + failure.context);
    EXPECT_TRUE(TraceHas(run.trace, failure.online ? "FinalizeWithReport" : "Finalize"));
    EXPECT_TRUE(run.output.valid && run.output.complete) << run.output.problem;
}

const Failure kFailures[] = {
    {"SampleBuffer", false, 16, "7168", "Error allocating audio data buffer"},
    {"OnlineSampleBuffer", true, 16, "7168", "Error allocating audio data buffer"},
    {"ConversionBuffer", false, 24, "14336", "Error allocating 24-bit conversion buffer"},
    {"OnlineConversionBuffer", true, 24, "14336", "Error allocating 24-bit conversion buffer"},
};

std::string FailureName(const testing::TestParamInfo<Failure>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Buffers, E2eAllocationFailureTest, testing::ValuesIn(kFailures),
                         FailureName);

// The 8-byte allocations of a run, failed one after the other, among them every block's
// timestamp: each run ends by its own result line, never by a signal or an internal error,
// and the online timestamp's failure shows with the empty context the tool gives it.
TEST(E2eAllocationFailureSweepTest, EveryEightByteAllocationFailingEndsTheRunCleanly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's runtime must be the first library loaded: no preloading";
#endif
    for (const bool online : {false, true}) {
        SCOPED_TRACE(online ? "pellion-embed-online" : "pellion-embed");
        bool timestampFailed = false;
        bool succeeded = false;
        for (int n = 1; n <= 40 && !succeeded; ++n) {
            SCOPED_TRACE("allocation " + std::to_string(n));
            const HookedRun run = RunHooked(online, 16, "8@" + std::to_string(n));
            ASSERT_EQ(run.process.signal, 0) << run.process.err;
            const std::string last = LastConsoleLine(run.process.out);
            succeeded = run.process.exitStatus == 0;
            if (succeeded) continue;
            EXPECT_EQ(last.rfind(kNoMemory, 0), 0u) << last;
            EXPECT_EQ(run.process.exitStatus, 5);
            // Once the job runs, a failure still ends it and completes the output.
            if (TraceHas(run.trace, "AddAudioBuffer")) {
                EXPECT_TRUE(run.output.complete) << run.output.problem;
                timestampFailed = timestampFailed ||
                                  last == std::string(kNoMemory) + (online ? "" : "std::bad_alloc");
            }
        }
        EXPECT_TRUE(succeeded) << "more 8-byte allocations than expected";
        EXPECT_TRUE(timestampFailed) << "no block's timestamp failed";
    }
}

}  // namespace
