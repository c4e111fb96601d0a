// A stop signal always stops a run, and an interrupted run never passes for a finished one:
// its exit status is 128 + the signal and its one result line says what the output holds.
// Before the first block there is nothing to save: the run ends at once and leaves the output
// path as it found it, even when it waits in open() on a FIFO that no one writes.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "e2e_embedder_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

const std::string kBeforeAudio = " before any audio was fed; no output was written.\n";

TEST(E2eStopSignalTest, HangupEndsAPacedRunInOrderAsInterrupted) {
    WorkDir dir;
    const ByteVector samples = TestSamples(4 * 48000, 2, 16);
    WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, samples));
    ChildProcess child(EmbedderToolPath(),
                       EmbedderOptions(dir, {dir.path("in.wav"), dir.path("out.wav")}));
    ASSERT_TRUE(WaitForTraceOf(child, dir, "AddAudioBuffer"));
    child.PumpFor(milliseconds(200));
    child.Signal(SIGHUP);
    const ProcessResult result = child.Finish();
    EXPECT_EQ(result.exitStatus, 128 + SIGHUP);
    const Strings trace = ReadLines(TracePath(dir));
    EXPECT_TRUE(TraceHas(trace, "Finalize"));
    const uint64_t fed = BytesHandedOver(trace);
    EXPECT_TRUE(EndsWith(result.out, InterruptedLine("SIGHUP", fed / 4))) << result.out;
    const WrittenWav wav = ReadWrittenWav(dir.path("out.wav"));
    EXPECT_TRUE(wav.complete) << wav.problem;
    EXPECT_EQ(wav.samples.size(), fed);
}

// Where a run can wait before its first block, and what it leaves behind.
struct WaitRow {
    const char* name;
    bool online;
    int signalNumber;
    // Turns the work directory into the waiting situation; returns the arguments.
    std::function<Strings(const WorkDir&)> prepare;
};

void PrintTo(const WaitRow& row, std::ostream* out) {
    *out << row.name;
}

Strings OnlineArgs(const WorkDir& dir, const std::string& metadata) {
    return Concat({dir.path("in.wav"), dir.path("out.wav")}, OnlineAccountArgs(metadata));
}

const WaitRow kWaitRows[] = {
    {"input FIFO without a writer", false, SIGTERM,
     [](const WorkDir& dir) {
         mkfifo(dir.path("in.fifo").c_str(), 0600);
         return Strings{dir.path("in.fifo"), dir.path("out.wav")};
     }},
    {"output FIFO without a reader", false, SIGINT,
     [](const WorkDir& dir) {
         mkfifo(dir.path("out.fifo").c_str(), 0600);
         return Strings{dir.path("in.wav"), dir.path("out.fifo")};
     }},
    {"metadata FIFO without a writer", true, SIGTERM,
     [](const WorkDir& dir) {
         mkfifo(dir.path("job.fifo").c_str(), 0600);
         return OnlineArgs(dir, dir.path("job.fifo"));
     }},
    {"standard input that sends nothing", false, SIGHUP,
     [](const WorkDir& dir) {
         return Concat({"stdin", dir.path("out.wav")}, StdinFormatArgs(2, 16, "le"));
     }},
};

class E2eStopBeforeAudioTest : public testing::TestWithParam<WaitRow> {};

TEST_P(E2eStopBeforeAudioTest, EndsAtOnceAndLeavesTheOutputAsItWas) {
    const WaitRow& row = GetParam();
    for (const bool earlierOutput : {false, true}) {
        SCOPED_TRACE(earlierOutput ? "earlier output" : "no earlier output");
        WorkDir dir;
        WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, TestSamples(4800, 2, 16)));
        const Strings args = row.prepare(dir);
        const ByteVector earlier = SimpleWav(1, 48000, 16, Pattern(960, 3));
        if (earlierOutput) WriteWholeFile(dir.path("out.wav"), earlier);
        ProcessOptions options = EmbedderOptions(dir, args);
        const bool fromStdin = row.name == std::string("standard input that sends nothing");
        if (fromStdin) {
            options.stdinDevNull = false;
            options.stdinChunks = {{milliseconds(60000), "never sent"}};
        }
        options.timeout = milliseconds(15000);
        ChildProcess child(row.online ? OnlineEmbedderToolPath() : EmbedderToolPath(), options);
        ASSERT_TRUE(child.PumpUntil([&] {
            return WaitsInCall(child.pid(), row.signalNumber, fromStdin ? SYS_read : SYS_openat);
        })) << "the run did not wait";
        const auto signalled = Clock::now();
        child.Signal(row.signalNumber);
        const ProcessResult result = child.Finish();
        EXPECT_LT(Clock::now() - signalled, std::chrono::seconds(3));
        EXPECT_EQ(result.exitStatus, 128 + row.signalNumber) << result.out << result.err;
        const std::string name = row.signalNumber == SIGINT    ? "SIGINT"
                                 : row.signalNumber == SIGTERM ? "SIGTERM"
                                                               : "SIGHUP";
        EXPECT_TRUE(EndsWith(result.out, "[INTERRUPTED] Stopped by " + name + kBeforeAudio))
            << result.out;
        EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos);
        EXPECT_EQ(result.out.find("[ERROR]"), std::string::npos) << result.out;
        const Strings trace = ReadLines(TracePath(dir));
        EXPECT_FALSE(TraceHas(trace, "AddAudioBuffer"));
        EXPECT_FALSE(TraceHas(trace, row.online ? "FinalizeWithReport" : "Finalize"));
        if (earlierOutput) {
            EXPECT_EQ(ReadWholeFile(dir.path("out.wav")), earlier);
        } else {
            EXPECT_FALSE(std::filesystem::exists(dir.path("out.wav")));
        }
    }
}

std::string WaitRowName(const testing::TestParamInfo<WaitRow>& info) {
    std::string name;
    bool upper = true;
    for (const char c : std::string(info.param.name)) {
        if (c == ' ') {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(toupper(c)) : c;
        upper = false;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Waits, E2eStopBeforeAudioTest, testing::ValuesIn(kWaitRows), WaitRowName);

}  // namespace
