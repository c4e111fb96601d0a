// The console of pellion-embed, byte for byte: which lines a run prints, in which order, and
// on which stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_embedder_support.h"

namespace {

using Strings = std::vector<std::string>;

constexpr size_t kBlockFrames = 512;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// On a terminal the last progress line is ended, so that the result line stands alone; the
// terminal turns each end of line into "\r\n".
TEST(E2eEmbedderConsoleTest, OnATerminalTheResultLineStandsAlone) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    WorkDir dir;
    WriteWholeFile(dir.path("in.wav"),
                   SimpleWav(2, 48000, 16, TestSamples(3 * kBlockFrames, 2, 16)));
    ProcessOptions options = EmbedderOptions(dir, {dir.path("in.wav"), dir.path("out.wav")});
    options.stdoutFile = ptsname(terminal);
    EXPECT_EQ(RunProcess(EmbedderToolPath(), options).exitStatus, 0);
    // The kernel hands the writes to this side in its own time, also after the program has
    // ended: read until the closed far side reads as ended (poll bounds the wait).
    std::string screen;
    char buffer[4096];
    pollfd ready{terminal, POLLIN, 0};
    for (ssize_t got = 0;
         poll(&ready, 1, 10000) == 1 && (got = read(terminal, buffer, sizeof buffer)) > 0;) {
        screen.append(buffer, static_cast<size_t>(got));
    }
    close(terminal);
    EXPECT_TRUE(EndsWith(screen, "Data timestamp: 0.032\r\r\n[SUCCESS]\r\n")) << screen;
}

TEST(E2eEmbedderConsoleTest, WavRunPrintsSetUpLinesTimestampsThenSuccess) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    WriteWholeFile(input, SimpleWav(2, 48000, 16, TestSamples(3 * kBlockFrames, 2, 16)));
    const EmbedderRun run = RunEmbedder(
        dir, EmbedderOptions(dir, {input, dir.path("out.wav")}, "channels=Main feed:42|B:-7"));
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.out, VersionLine() + "Input file:" + input +
                                   " frequency:48000 channels:2 bits per sample:16\n"
                                   "Available channels (name - id):\n"
                                   "\tMain feed - 42\n"
                                   "\tB - -7\n"
                                   "[INFO] - Stand-in embedder initialized\n"
                                   "Data timestamp: 0.011\r"
                                   "Data timestamp: 0.021\r"
                                   "Data timestamp: 0.032\r"
                                   "[SUCCESS]\n");
    EXPECT_EQ(run.process.err, "");
    EXPECT_EQ(TraceLinesOf(run.trace, "SetChannelName"), Strings{"SetChannelName Main feed"});
}

TEST(E2eEmbedderConsoleTest, StandardInputRunPrintsNoTimestamps) {
    WorkDir dir;
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", dir.path("out.wav"), "--channelName=STANDIN-B"},
                                    StdinFormatArgs(1, 24, "le")));
    options.stdinChunks = StdinAtOnce(TestSamples(2 * kBlockFrames, 1, 24));
    const EmbedderRun run = RunEmbedder(dir, options);
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.out,
              VersionLine() +
                  "Input file:stdin frequency:48000 channels:1 bits per sample:24\n"
                  "[INFO] - Stand-in embedder initialized\n"
                  "[SUCCESS]\n");
    EXPECT_EQ(run.process.err, "");
}

TEST(E2eEmbedderConsoleTest, SilentRunPrintsOnlyWarningsAndErrors) {
    const std::string messages =
        "message@Initialize=1:7:careful;message@Initialize=0:0:chatty;"
        "message@Finalize=2:9:broken;message@Finalize=5:3:odd";
    const std::string warnings =
        "[WARNING] - careful (Code: 7)\n"
        "[ERROR] - broken (Code: 9)\n"
        "[UNDEFINED] - odd (Code: 3)\n";
    const std::vector<std::pair<std::string, std::string>> rows = {
        {messages, warnings},
        {messages + ";Finalize=100",
         warnings + "[ERROR] code 44 (An I/O error occurred). Error finalizing embedder.\n\n"}};
    for (const auto& [faults, expected] : rows) {
        SCOPED_TRACE(faults);
        WorkDir dir;
        const std::string input = dir.path("in.wav");
        WriteWholeFile(input, SimpleWav(1, 48000, 32, TestSamples(2 * kBlockFrames, 1, 32)));
        const EmbedderRun run = RunEmbedder(
            dir, EmbedderOptions(dir, {input, dir.path("out.wav"), "--silent=no"}, faults));
        EXPECT_EQ(run.process.out, expected);
        EXPECT_EQ(run.process.err, "");
        EXPECT_FALSE(TraceHas(run.trace, "GetVersion"));
    }
}

TEST(E2eEmbedderConsoleTest, RawOutputCarriesOnlyAudioAndTheConsoleGoesToStandardError) {
    WorkDir dir;
    const ByteVector samples = TestSamples(3 * kBlockFrames, 2, 16);
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", "stdout"}, StdinFormatArgs(2, 16, "le")),
                        "message@Initialize=1:7:careful;message@Finalize=0:0:chatty;"
                        "Finalize=100");
    options.stdinChunks = StdinAtOnce(samples);
    const EmbedderRun run = RunEmbedder(dir, options);
    EXPECT_EQ(run.process.exitStatus, 44);
    // Even with the failing Finalize the held-back audio comes out when the embedder goes.
    EXPECT_EQ(WithoutMark(BytesOf(run.process.out), 16), WithoutMark(samples, 16));
    EXPECT_EQ(run.process.err,
              "[WARNING] - careful (Code: 7)\n"
              "[ERROR] code 44 (An I/O error occurred). Error finalizing embedder.\n\n");
}

TEST(E2eEmbedderConsoleTest, FinalizeFailureReplacesSuccessWithTheTranslatedCode) {
    // Library code 121 is beyond the table: undefined.
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    WriteWholeFile(input, SimpleWav(1, 48000, 16, TestSamples(2 * kBlockFrames, 1, 16)));
    const EmbedderRun run =
        RunEmbedder(dir, EmbedderOptions(dir, {input, dir.path("out.wav")}, "Finalize=121"));
    EXPECT_EQ(run.process.exitStatus, 51);
    const std::string ending =
        "Data timestamp: 0.021\r"
        "[ERROR] code 51 (An undefined error occurred). Error finalizing embedder.\n\n";
    EXPECT_TRUE(EndsWith(run.process.out, ending)) << run.process.out;
    EXPECT_EQ(run.process.out.find("[SUCCESS]"), std::string::npos);
    // The audio handed over before is still in a complete file.
    const WrittenWav wav = ReadWrittenWav(dir.path("out.wav"));
    EXPECT_TRUE(wav.complete) << wav.problem;
    EXPECT_EQ(wav.samples.size(), 2 * kBlockFrames * 2);
}

TEST(E2eEmbedderConsoleTest, WavFileAt44100HzIsRefusedBeforeTheOutputIsCreated) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    const std::string output = dir.path("out.wav");
    WriteWholeFile(input, SimpleWav(2, 44100, 16, TestSamples(2 * kBlockFrames, 2, 16)));
    const EmbedderRun run = RunEmbedder(dir, EmbedderOptions(dir, {input, output}));
    EXPECT_EQ(run.process.exitStatus, 18);
    EXPECT_EQ(run.process.out, VersionLine() + "Input file:" + input +
                                   " frequency:44100 channels:2 bits per sample:16\n"
                                   "[ERROR] code 18 (The audio sample rate shall be only 48000Hz). "
                                   "Only 48000Hz WAV files can be used\n\n");
    EXPECT_FALSE(Exists(output));
    EXPECT_EQ(TraceOperations(run.trace), Strings{"GetVersion"});
}

// With --log-format=json standard error carries JSON Lines only, each event in its place: the
// library's messages, a live input that stalls for three seconds and comes back, a stop signal.
TEST(E2eEmbedderConsoleTest, TheLogForMachinesTellsEveryEventAsJson) {
    if (FindProgram("jq").empty())
        GTEST_SKIP() << "jq is not installed (scripts/install_audio_tools.sh)";
    struct Row {
        const char* name;
        std::vector<StdinChunk> input;
        bool stop;
        const char* events;  // jq's summary of the log
    };
    const std::string block = TextOf(TestSamples(kBlockFrames, 2, 16));
    const Row rows[] = {
        {"messages",
         {{std::chrono::milliseconds(0), block}},
         false,
         R"(["start","channels","message","message","result",0,false])"},
        {"stall",
         {{std::chrono::milliseconds(0), block}, {std::chrono::milliseconds(3000), block}},
         false,
         R"(["start","channels","message","message","stall","stall","result",0,false])"},
        {"stop",
         {{std::chrono::milliseconds(0), block}, {std::chrono::milliseconds(60000), block}},
         true,
         R"(["start","channels","message","message","result",0,true])"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WorkDir dir;
        ProcessOptions options = EmbedderOptions(
            dir, Concat({"stdin", "stdout", "--log-format=json"}, StdinFormatArgs(2, 16, "le")),
            "message@Initialize=1:7:careful \"quoted\"");
        options.stdinDevNull = false;
        options.stdinChunks = row.input;
        ChildProcess child(EmbedderToolPath(), options);
        if (row.stop) {
            ASSERT_TRUE(WaitForTraceOf(child, dir, "AddAudioBuffer"));
            child.Signal(SIGTERM);
        }
        const ProcessResult result = child.Finish();
        EXPECT_EQ(result.exitStatus, row.stop ? 143 : 0) << result.err;
        EXPECT_EQ(JqOfLines("[.[] | select(.event != \"progress\") | .event] + (.[-1] | "
                            "[.code, .interrupted])",
                            result.err),
                  row.events);
        EXPECT_EQ(JqOfLines(R"([.[] | select(.event == "message")][0] | [.level, .code, .text])",
                            result.err),
                  R"(["warning",7,"careful \"quoted\""])");
        if (std::string(row.name) == "stall") {
            EXPECT_EQ(JqOfLines(R"([.[] | select(.event == "stall") | .state, (.seconds > 2.5)])",
                                result.err),
                      R"(["stalled",false,"resumed",true])");
        }
    }
}

}  // namespace
