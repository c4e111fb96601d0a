// A stop signal always stops a run, and an interrupted run never passes for a finished one:
// its exit status is 128 + the signal and its one result line says what the output holds.
// Before the first block there is nothing to save: the run ends at once and leaves the output
// path as it found it, even when it waits in open() on a FIFO that no one writes. A service
// manager that watches the run hears when it is ready, that it lives, and that it stops.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
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

// Ready once Initialize has returned (it takes 300 ms here); a heartbeat at most every 100 ms
// for WATCHDOG_USEC=200000 while audio flows, none while the input stalls for 2 s; stopping
// once SIGTERM has come.
TEST(E2eStopSignalTest, ServiceManagerHearsReadyHeartbeatsWhileAudioFlowsAndStopping) {
    const std::string name = "@pellion-test-notify-" + std::to_string(getpid());
    const int manager = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::memcpy(address.sun_path + 1, name.data() + 1, name.size() - 1);
    ASSERT_EQ(bind(manager, reinterpret_cast<sockaddr*>(&address),
                   offsetof(sockaddr_un, sun_path) + name.size()),
              0);
    // Taken as they come (the socket's queue holds only a few), when they come.
    std::vector<std::pair<std::string, Clock::time_point>> received;
    const auto take = [&] {
        char text[64];
        for (ssize_t size; (size = recv(manager, text, sizeof text, MSG_DONTWAIT)) >= 0;) {
            received.emplace_back(std::string(text, static_cast<size_t>(size)), Clock::now());
        }
    };

    WorkDir dir;
    ProcessOptions options = EmbedderOptions(
        dir, Concat({"stdin", "stdout"}, StdinFormatArgs(2, 16, "le")), "delay@Initialize=300");
    options.env.insert({{"NOTIFY_SOCKET", name}, {"WATCHDOG_USEC", "200000"}});
    options.stdinDevNull = false;
    const std::string chunk = TextOf(TestSamples(960, 2, 16));  // 20 ms of audio
    for (int i = 0; i < 60; ++i)
        options.stdinChunks.push_back({milliseconds(i == 50 ? 2000 : 20), chunk});
    options.stdinChunks.push_back({milliseconds(60000), chunk});  // never sent: input stays open
    const Clock::time_point started = Clock::now();
    ChildProcess child(EmbedderToolPath(), options);
    for (int slice = 0; slice < 60; ++slice, take()) child.PumpFor(milliseconds(50));
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Finish().exitStatus, 128 + SIGTERM);
    const Clock::duration lifetime = Clock::now() - started;
    take();
    close(manager);

    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received.front().first, "READY=1\nSTATUS=marking");
    EXPECT_GE(received.front().second - started, milliseconds(300));
    EXPECT_EQ(received.back().first, "STOPPING=1");
    const size_t beats = received.size() - 2;
    EXPECT_LE(beats, static_cast<size_t>(lifetime / milliseconds(100)) + 1);
    // The stall is a silence of over a second, with heartbeats before it and after it.
    size_t afterStall = 0;
    for (size_t i = 1; i <= beats; ++i) {
        EXPECT_EQ(received[i].first, "WATCHDOG=1");
        if (i > 1 && received[i].second - received[i - 1].second > milliseconds(1000))
            afterStall = i;
    }
    EXPECT_GE(afterStall, 3u) << beats << " heartbeats";
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
            return WaitsInCall(child.pid(), row.signalNumber, fromStdin ? SYS_poll : SYS_openat);
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
