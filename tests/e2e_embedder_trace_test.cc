// What pellion-embed asks of the library, in which order and with which arguments, as the
// stand-in's call trace records it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "e2e_embedder_support.h"

namespace {

using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

constexpr size_t kBlockFrames = 512;

// The operations from Initialize to the end, with each run of AddAudioBuffer calls folded
// into one entry, so that set-up and ending read as a fixed sequence.
Strings Folded(const Strings& operations) {
    Strings folded;
    for (const std::string& operation : operations) {
        if (operation == "AddAudioBuffer" && !folded.empty() && folded.back() == operation) {
            continue;
        }
        folded.push_back(operation);
    }
    return folded;
}

TEST(E2eEmbedderTraceTest, SetUpCallsComeInTheirFixedOrderWithTheirArguments) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    WriteWholeFile(input, SimpleWav(2, 48000, 24, TestSamples(3 * kBlockFrames, 2, 24)));
    // A mask with bit 31 set reaches the library sign-extended; the stand-in would refuse the
    // processors that do not exist, so the rule answers for it.
    const EmbedderRun run =
        RunEmbedder(dir, EmbedderOptions(dir,
                                         {input, dir.path("out.wav"), "--affinity=80000000",
                                          "--prio=0,0", "--record=" + dir.dir()},
                                         "SetThreadCPUAffinity=0"));
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.out;
    EXPECT_EQ(Folded(TraceOperations(run.trace)),
              (Strings{"GetVersion", "CreatePellionAudioEmbedder", "SetThreadCPUAffinity",
                       "SetThreadPriority", "GetEmbedderParameters", "SetBitsPerSample",
                       "SetChannels", "GetChannelNameList", "SetChannelName", "EnableRecord",
                       "Initialize", "AddAudioBuffer", "ResynchronizeTimecode", "AddAudioBuffer",
                       "Finalize", "DestroyPellionAudioEmbedder"}));
    EXPECT_EQ(TraceLinesOf(run.trace, "SetThreadCPUAffinity"),
              Strings{"SetThreadCPUAffinity -2147483648"});
    EXPECT_EQ(TraceLinesOf(run.trace, "SetThreadPriority"), Strings{"SetThreadPriority 0 0"});
    EXPECT_EQ(TraceLinesOf(run.trace, "SetBitsPerSample"), Strings{"SetBitsPerSample 24"});
    EXPECT_EQ(TraceLinesOf(run.trace, "SetChannels"), Strings{"SetChannels 2"});
    EXPECT_EQ(TraceLinesOf(run.trace, "SetChannelName"), Strings{"SetChannelName STANDIN-A"});
    EXPECT_EQ(TraceLinesOf(run.trace, "EnableRecord"), Strings{"EnableRecord " + dir.dir()});
}

TEST(E2eEmbedderTraceTest, AGivenChannelNameIsSetWithoutAskingForTheList) {
    WorkDir dir;
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", dir.path("out.wav"), "--channelName=STANDIN-B"},
                                    StdinFormatArgs(1, 16, "le")));
    options.stdinChunks = StdinAtOnce(TestSamples(100, 1, 16));
    const EmbedderRun run = RunEmbedder(dir, options);
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.out;
    EXPECT_EQ(Folded(TraceOperations(run.trace)),
              (Strings{"GetVersion", "CreatePellionAudioEmbedder", "GetEmbedderParameters",
                       "SetBitsPerSample", "SetChannels", "SetChannelName", "Initialize",
                       "AddAudioBuffer", "Finalize", "DestroyPellionAudioEmbedder"}));
    EXPECT_EQ(TraceLinesOf(run.trace, "SetChannelName"), Strings{"SetChannelName STANDIN-B"});
}

TEST(E2eEmbedderTraceTest, FirstListedChannelIsSelectedWhetherPrintedOrNot) {
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "not silent");
        WorkDir dir;
        Strings args = Concat({"stdin", dir.path("out.wav")}, StdinFormatArgs(1, 16, "le"));
        if (silent) args.push_back("--silent");
        ProcessOptions options = EmbedderOptions(dir, args, "channels=ZETA:5|ALPHA:3");
        options.stdinChunks = StdinAtOnce(TestSamples(100, 1, 16));
        const EmbedderRun run = RunEmbedder(dir, options);
        ASSERT_EQ(run.process.exitStatus, 0) << run.process.out;
        EXPECT_EQ(TraceLinesOf(run.trace, "SetChannelName"), Strings{"SetChannelName ZETA"});
        const bool listed = run.process.out.find("\tZETA - 5\n\tALPHA - 3\n") != std::string::npos;
        EXPECT_EQ(listed, !silent) << run.process.out;
    }
}

TEST(E2eEmbedderTraceTest, EmptyChannelListEndsTheRunBeforeInitialize) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    WriteWholeFile(input, SimpleWav(1, 48000, 16, TestSamples(100, 1, 16)));
    const EmbedderRun run =
        RunEmbedder(dir, EmbedderOptions(dir, {input, dir.path("out.wav")}, "channels="));
    EXPECT_EQ(run.process.exitStatus, 35);
    EXPECT_EQ(TraceOperations(run.trace),
              (Strings{"GetVersion", "CreatePellionAudioEmbedder", "GetEmbedderParameters",
                       "SetBitsPerSample", "SetChannels", "GetChannelNameList",
                       "DestroyPellionAudioEmbedder"}));
    const std::string ending =
        "Available channels (name - id):\n"
        "[ERROR] code 35 (The channel name provided is not one of the embedder's channels). "
        "The embedder offers no channel to select\n\n";
    EXPECT_TRUE(EndsWith(run.process.out, ending)) << run.process.out;
}

TEST(E2eEmbedderTraceTest, WavBlocksCarryTheirMediaTimeAnd24BitSamplesGoOutAsWords) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    // Two whole blocks and one of 276 frames, which lasts 57500 ticks.
    WriteWholeFile(input, SimpleWav(2, 48000, 24, TestSamples(2 * kBlockFrames + 276, 2, 24)));
    const EmbedderRun run =
        RunEmbedder(dir, EmbedderOptions(dir, {input, dir.path("out.wav"), "--silent"}));
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.out;
    EXPECT_EQ(TraceLinesOf(run.trace, "AddAudioBuffer"),
              (Strings{"AddAudioBuffer 4096 106666", "AddAudioBuffer 4096 213332",
                       "AddAudioBuffer 2208 270832"}));
}

TEST(E2eEmbedderTraceTest, StandardInputBlocksCarryNoTimestamp) {
    WorkDir dir;
    // 24-bit mono: 1536 bytes make a block of 512 frames, handed over as 2048 bytes.
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", dir.path("out.wav")}, StdinFormatArgs(1, 24, "be")));
    options.stdinChunks = StdinAtOnce(TestSamples(kBlockFrames + 10, 1, 24));
    const EmbedderRun run = RunEmbedder(dir, options);
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.out;
    EXPECT_EQ(TraceLinesOf(run.trace, "AddAudioBuffer"),
              (Strings{"AddAudioBuffer 2048 null", "AddAudioBuffer 40 null"}));
}

TEST(E2eEmbedderTraceTest, ShortStandardInputMakesOneShortBlockThenFinalizes) {
    WorkDir dir;
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", dir.path("out.wav")}, StdinFormatArgs(2, 16, "le")));
    options.stdinChunks = StdinAtOnce(TestSamples(250, 2, 16));  // 1000 bytes
    const EmbedderRun run = RunEmbedder(dir, options);
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.out;
    const Strings expectedEnd = {"Initialize", "AddAudioBuffer 1000 null", "Finalize",
                                 "DestroyPellionAudioEmbedder"};
    ASSERT_GE(run.trace.size(), expectedEnd.size());
    EXPECT_EQ(
        Strings(run.trace.end() - static_cast<std::ptrdiff_t>(expectedEnd.size()), run.trace.end()),
        expectedEnd);
}

TEST(E2eEmbedderTraceTest, PauseOfStandardInputResynchronizesTheTimecode) {
    WorkDir dir;
    const size_t blockBytes = kBlockFrames * 2 * 2;
    const ByteVector samples = TestSamples(5 * kBlockFrames, 2, 16);
    const std::string text = TextOf(samples);
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", dir.path("out.wav")}, StdinFormatArgs(2, 16, "le")));
    options.stdinDevNull = false;
    // Three blocks at once, then two more after a pause of a second and a half.
    options.stdinChunks = {{milliseconds(0), text.substr(0, 3 * blockBytes)},
                           {milliseconds(1500), text.substr(3 * blockBytes)}};
    const EmbedderRun run = RunEmbedder(dir, options);
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.out;
    // Always before the second block, and again before the first block after the pause.
    const Strings operations = TraceOperations(run.trace);
    const auto firstBlock = std::find(operations.begin(), operations.end(), "AddAudioBuffer");
    EXPECT_EQ(Strings(firstBlock, operations.end()),
              (Strings{"AddAudioBuffer", "ResynchronizeTimecode", "AddAudioBuffer",
                       "AddAudioBuffer", "ResynchronizeTimecode", "AddAudioBuffer",
                       "AddAudioBuffer", "Finalize", "DestroyPellionAudioEmbedder"}));
    EXPECT_EQ(ReadWrittenWav(dir.path("out.wav")).samples.size(), samples.size());
}

TEST(E2eEmbedderTraceTest, ResynchronizationNotAllowedLetsTheRunGoOn) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    const ByteVector samples = TestSamples(3 * kBlockFrames, 1, 16);
    WriteWholeFile(input, SimpleWav(1, 48000, 16, samples));
    const EmbedderRun run = RunEmbedder(
        dir,
        EmbedderOptions(dir, {input, dir.path("out.wav"), "--silent"}, "ResynchronizeTimecode=81"));
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(run.process.out, "");
    EXPECT_TRUE(TraceHas(run.trace, "ResynchronizeTimecode"));
    EXPECT_EQ(TraceLinesOf(run.trace, "AddAudioBuffer").size(), 3u);
    EXPECT_EQ(ReadWrittenWav(dir.path("out.wav")).samples.size(), samples.size());
}

// Other answers are reported as the embedder gave them: 99 has no text, and 49 would have
// become 31 through the library's table.
TEST(E2eEmbedderTraceTest, FailedResynchronizationIsReportedUnconvertedAfterFinalize) {
    const std::vector<std::pair<int, std::string>> rows = {
        {99, "[ERROR] code 99 (undocumented). ResynchronizeTimecode failed\n\n"},
        {49,
         "[ERROR] code 49 (Invalid timecode (check first time code and timecode bit size)). "
         "ResynchronizeTimecode failed\n\n"}};
    for (const auto& [code, line] : rows) {
        SCOPED_TRACE(code);
        WorkDir dir;
        const std::string input = dir.path("in.wav");
        WriteWholeFile(input, SimpleWav(1, 48000, 16, TestSamples(3 * kBlockFrames, 1, 16)));
        const EmbedderRun run =
            RunEmbedder(dir, EmbedderOptions(dir, {input, dir.path("out.wav"), "--silent"},
                                             "ResynchronizeTimecode=" + std::to_string(code)));
        EXPECT_EQ(run.process.exitStatus, code);
        EXPECT_EQ(run.process.out, line);
        // Refused before the second block: only the first was handed over.
        EXPECT_EQ(TraceLinesOf(run.trace, "AddAudioBuffer").size(), 1u);
        EXPECT_TRUE(TraceHas(run.trace, "Finalize"));
    }
}

// An exit status keeps only the low byte of the code: 256 would read as success.
TEST(E2eEmbedderTraceTest, ResynchronizationCodeBeyondAnExitStatusStillFailsTheRun) {
    for (const int code : {256, -256}) {
        SCOPED_TRACE(code);
        WorkDir dir;
        const std::string input = dir.path("in.wav");
        WriteWholeFile(input, SimpleWav(1, 48000, 16, TestSamples(3 * kBlockFrames, 1, 16)));
        const EmbedderRun run =
            RunEmbedder(dir, EmbedderOptions(dir, {input, dir.path("out.wav"), "--silent"},
                                             "ResynchronizeTimecode=" + std::to_string(code)));
        EXPECT_EQ(run.process.exitStatus, 51);
        EXPECT_EQ(run.process.out, "[ERROR] code " + std::to_string(code) +
                                       " (undocumented). ResynchronizeTimecode failed\n\n");
    }
}

TEST(E2eEmbedderTraceTest, FinalizeOnlyFollowsASuccessfulInitialize) {
    struct Row {
        std::string faults;
        int exitStatus;
        bool finalized;
    };
    // Library code 28 becomes 20, 27 becomes 19.
    for (const Row& row : {Row{"Initialize=28", 20, false}, Row{"SetChannelName=28", 20, false},
                           Row{"AddAudioBuffer@2=27", 19, true}}) {
        SCOPED_TRACE(row.faults);
        WorkDir dir;
        const std::string input = dir.path("in.wav");
        WriteWholeFile(input, SimpleWav(1, 48000, 16, TestSamples(3 * kBlockFrames, 1, 16)));
        const EmbedderRun run =
            RunEmbedder(dir, EmbedderOptions(dir, {input, dir.path("out.wav")}, row.faults));
        EXPECT_EQ(run.process.exitStatus, row.exitStatus);
        EXPECT_EQ(TraceHas(run.trace, "Finalize"), row.finalized);
        ASSERT_FALSE(run.trace.empty());
        EXPECT_EQ(run.trace.back(), "DestroyPellionAudioEmbedder");
        // A job that never started leaves no output; one that did, a complete one.
        const WrittenWav wav = ReadWrittenWav(dir.path("out.wav"));
        EXPECT_EQ(wav.complete, row.finalized) << wav.problem;
    }
}

}  // namespace
