// Every check of both programs driven to failure end to end, one row per check: the library
// operations through the stand-in's fault rules, the reader, the writer, the rate check and
// the metadata file through the files the programs are given. Each row asserts the exact
// error line, the exit status (the general code, so library codes are translated through the
// library table), whether the job was finalised (exactly when Initialize had succeeded),
// that a created embedder was destroyed, and that the output WAV file is complete when the job
// had started and left as it was found (absent, or the earlier file) when it had not.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace {

enum class Tool { kEmbed, kOnline };

enum class Input {
    kWav,            // 48000 Hz, 16-bit stereo, four blocks
    kTruncatedData,  // the data chunk declares far more bytes than the file holds
    kUnsupported,    // a float format
    kMissing,
    kRate44100,
    kRawStdin,  // pellion-embed only: the same samples as raw PCM on standard input
};

enum class Output {
    kWav,
    kInMissingDirectory,
    kSameAsInput,
    kRawStdout,  // pellion-embed only
};

enum class Metadata { kJson, kMissing, kNotJson, kDirectory };

// How far a run got before the failure.
enum class Reached {
    kCommandLine,  // nothing created
    kInput,        // input opened, no output
    kOutput,       // output created, no embedder
    kEmbedder,     // embedder created and destroyed, no Initialize
    kInitialize,   // Initialize succeeded, so the job is finalised
};

struct FaultRow {
    const char* name;
    Tool tool;
    std::string faults;
    int code;  // 0: the run succeeds
    std::string text;
    std::string context;
    Reached reached;
    std::vector<std::string> extraArgs = {};
    Input input = Input::kWav;
    Output output = Output::kWav;
    Metadata metadata = Metadata::kJson;
    int exitStatus = -1;  // when it is not the code

    FaultRow& Args(std::vector<std::string> args) {
        extraArgs = std::move(args);
        return *this;
    }
    FaultRow& In(Input value) {
        input = value;
        return *this;
    }
    FaultRow& Out(Output value) {
        output = value;
        return *this;
    }
    FaultRow& Meta(Metadata value) {
        metadata = value;
        return *this;
    }
    FaultRow& Exit(int status) {
        exitStatus = status;
        return *this;
    }
};

void PrintTo(const FaultRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr size_t kFrames = 1600;  // three whole blocks of 512 frames and a short one
constexpr int kChannels = 2;
constexpr int kBits = 16;

ByteVector InputSamples() {
    return TestSamples(kFrames, kChannels, kBits);
}

ByteVector InputFileBytes(Input input) {
    switch (input) {
        case Input::kTruncatedData: {
            std::vector<ByteVector> chunks = {Chunk("fmt ", PlainFormatBody(2, 48000, 16)),
                                              ChunkDeclaring("data", 1000000, InputSamples())};
            return RiffFile(chunks);
        }
        case Input::kUnsupported:
            return RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 32, 16, 3)),
                             Chunk("data", InputSamples())});
        case Input::kRate44100:
            return SimpleWav(kChannels, 44100, kBits, InputSamples());
        default:
            return SimpleWav(kChannels, 48000, kBits, InputSamples());
    }
}

// The files and options of one row's run.
struct RowRun {
    std::string inputPath;
    std::string outputPath;
    std::string trace;
    ProcessOptions options;
};

RowRun PrepareRun(const FaultRow& row, const WorkDir& work) {
    RowRun run;
    run.trace = work.path("trace.txt");
    run.inputPath = work.path("in.wav");
    const bool rawIn = row.input == Input::kRawStdin;
    const bool rawOut = row.output == Output::kRawStdout;
    if (row.input != Input::kMissing && !rawIn) {
        WriteWholeFile(run.inputPath, InputFileBytes(row.input));
    }
    run.outputPath = work.path("out.wav");
    if (row.output == Output::kInMissingDirectory) run.outputPath = work.path("missing/out.wav");
    if (row.output == Output::kSameAsInput) run.outputPath = work.dir() + "/./in.wav";

    ProcessOptions& options = run.options;
    options.args = {rawIn ? "stdin" : run.inputPath, rawOut ? "stdout" : run.outputPath};
    if (rawIn) {
        options.args.insert(options.args.end(),
                            {"--stdin-sampling-rate=48000", "--stdin-nb-channels=2",
                             "--stdin-bits-per-sample=16", "--stdin-endianness=le"});
        const ByteVector samples = InputSamples();
        options.stdinChunks = {
            {std::chrono::milliseconds(0), std::string(samples.begin(), samples.end())}};
    } else {
        options.stdinDevNull = true;
    }
    if (row.tool == Tool::kOnline) {
        const std::string metadataPath = work.path("job.json");
        if (row.metadata == Metadata::kJson) WriteWholeFile(metadataPath, "{\"title\":\"x\"}\n");
        if (row.metadata == Metadata::kNotJson) WriteWholeFile(metadataPath, "title = x\n");
        if (row.metadata == Metadata::kDirectory) std::filesystem::create_directory(metadataPath);
        const std::vector<std::string> account = OnlineAccountArgs(metadataPath);
        options.args.insert(options.args.end(), account.begin(), account.end());
    }
    for (const std::string& arg : row.extraArgs) {
        options.args.push_back(arg == "--record=DIR" ? "--record=" + work.dir() : arg);
    }
    options.env = StandinEnv(run.trace, row.faults);
    options.timeout = std::chrono::milliseconds(30000);
    return run;
}

std::string ToolPath(Tool tool) {
    return tool == Tool::kOnline ? OnlineEmbedderToolPath() : EmbedderToolPath();
}

class E2eFaultMatrixTest : public testing::TestWithParam<FaultRow> {};

TEST_P(E2eFaultMatrixTest, EndsWithItsErrorLineAndStatus) {
    const FaultRow& row = GetParam();
    WorkDir work;
    const RowRun run = PrepareRun(row, work);
    const std::string& trace = run.trace;
    const std::string& inputPath = run.inputPath;
    const std::string& outputPath = run.outputPath;
    const bool rawOut = row.output == Output::kRawStdout;
    const ProcessOptions& options = run.options;

    const bool online = row.tool == Tool::kOnline;
    const ProcessResult result = RunProcess(ToolPath(row.tool), options);

    ASSERT_FALSE(result.timedOut);
    ASSERT_EQ(result.signal, 0) << result.err;
    EXPECT_EQ(result.exitStatus, row.exitStatus >= 0 ? row.exitStatus : row.code)
        << result.out << result.err;
    // With raw audio on standard output every console line goes to standard error.
    const std::string& console = rawOut ? result.err : result.out;
    if (row.code == 0) {
        EXPECT_NE(console.find("[SUCCESS]\n"), std::string::npos) << console;
        EXPECT_EQ(console.find("[ERROR]"), std::string::npos) << console;
    } else {
        const std::string line = "[ERROR] code " + std::to_string(row.code) + " (" + row.text +
                                 "). " + row.context + "\n\n";
        const size_t at = console.find(line);
        EXPECT_NE(at, std::string::npos) << "wanted: " << line << "got:\n" << console;
        // The one result line of the run, and nothing printed after it but the usage text.
        EXPECT_EQ(console.find("[ERROR]"), console.rfind("[ERROR]")) << console;
        if (row.code != 43 && at != std::string::npos) {
            EXPECT_EQ(console.substr(at), line) << console;
        }
    }

    const std::vector<std::string> lines = ReadLines(trace);
    const bool finalized = TraceHas(lines, online ? "FinalizeWithReport" : "Finalize");
    EXPECT_EQ(finalized, row.reached == Reached::kInitialize) << testing::PrintToString(lines);
    const size_t destroyed = TraceLinesOf(lines, "DestroyPellionAudioEmbedder").size();
    EXPECT_EQ(destroyed, row.reached >= Reached::kEmbedder ? 1u : 0u)
        << testing::PrintToString(lines);

    if (rawOut) return;
    if (row.output == Output::kSameAsInput) {
        EXPECT_EQ(ReadWholeFile(inputPath), InputFileBytes(row.input)) << "the input was touched";
        return;
    }
    if (row.reached == Reached::kInitialize) {
        const WrittenWav written = ReadWrittenWav(outputPath);
        EXPECT_TRUE(written.valid && written.complete) << written.problem;
    } else {
        EXPECT_FALSE(std::filesystem::exists(outputPath)) << "a failed set-up left an output";
    }
}

// A user who re-runs a command with a typo keeps the output of the earlier run: every failure
// before the job has started leaves an existing output file as it was, content, mode and inode.
class E2eSetUpFailureTest : public testing::TestWithParam<FaultRow> {};

TEST_P(E2eSetUpFailureTest, LeavesAnEarlierOutputAsItWas) {
    const FaultRow& row = GetParam();
    WorkDir work;
    const RowRun run = PrepareRun(row, work);
    const ByteVector earlier = SimpleWav(1, 48000, 16, Pattern(4800, 5));
    WriteWholeFile(run.outputPath, earlier);
    ASSERT_EQ(chmod(run.outputPath.c_str(), 0604), 0);
    struct stat before {};
    ASSERT_EQ(stat(run.outputPath.c_str(), &before), 0);

    const ProcessResult result = RunProcess(ToolPath(row.tool), run.options);
    ASSERT_EQ(result.signal, 0) << result.err;
    EXPECT_EQ(result.exitStatus, row.exitStatus >= 0 ? row.exitStatus : row.code);
    struct stat after {};
    ASSERT_EQ(stat(run.outputPath.c_str(), &after), 0);
    EXPECT_EQ(ReadWholeFile(run.outputPath), earlier);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
}

const char kIo[] = "An I/O error occurred";
const char kUndefined[] = "An undefined error occurred";
const char kAlreadyInitialized[] = "Embedder has already been initialized";
const char kOnlineNotSupported[] =
    "Call to set embedder parameter that is not supported for online implementation";
const char kWatermarkDuration[] = "Watermark duration is invalid";
const char kUnknownChannel[] = "The channel name provided is not one of the embedder's channels";
const char kRate[] = "The audio sample rate shall be only 48000Hz";
const char kChannelsInvalid[] =
    "Number of audio channels provided is invalid - This shall be greater than 0";
const char kNoMemory[] = "Memory Allocation error - System cannot allocate memory";
const char kReportFailed[] = "Report generation failed. Check record output path";
const char kNotFinalized[] = "Error finalizing embedder.";
const char kNull[] = "A NULL pointer has been provided";

// Library codes and the general codes they translate to, varied from row to row so that a
// wrong translation shows: 14 -> 11, 23 -> 14, 121 -> 51, 5 -> 5, 7 -> 7, 8 -> 8, 26 -> 17,
// 80 -> 35, 100 -> 44, 115 -> 40, 117 -> 42, 120 -> 50, 9 -> 51, -3 -> 51, 64 -> 34.
const FaultRow kEmbedRows[] = {
    FaultRow{"CommandLine", Tool::kEmbed, "", 43, "Error on command line", "Unknown option --bogus",
             Reached::kCommandLine}
        .Args({"--bogus"}),
    FaultRow{"ReaderMissingFile", Tool::kEmbed, "", 44, kIo, "Unable to open input file",
             Reached::kInput}
        .In(Input::kMissing),
    FaultRow{"ReaderUnsupportedFile", Tool::kEmbed, "", 45, "Unsupported WAV file opened",
             "Unable to open input file", Reached::kInput}
        .In(Input::kUnsupported),
    FaultRow{"RateNot48000", Tool::kEmbed, "", 18, kRate, "Only 48000Hz WAV files can be used",
             Reached::kInput}
        .In(Input::kRate44100),
    FaultRow{"OutputInMissingDirectory", Tool::kEmbed, "", 44, kIo,
             "Unable to initialize embedder listener", Reached::kInput}
        .Out(Output::kInMissingDirectory),
    FaultRow{"OutputIsInput", Tool::kEmbed, "", 44, kIo, "Output file is the input file",
             Reached::kInput}
        .Out(Output::kSameAsInput),
    FaultRow{"Create", Tool::kEmbed, "CreatePellionAudioEmbedder=14", 11, kOnlineNotSupported,
             "Create Pellion AudioEmbedder failed", Reached::kOutput},
    // A library that reports success without handing out what it was asked for.
    FaultRow{"CreateWithoutEmbedder", Tool::kEmbed, "CreatePellionAudioEmbedder=0", 2, kNull,
             "Create Pellion AudioEmbedder failed", Reached::kOutput},
    FaultRow{"GetParametersWithoutObject", Tool::kEmbed, "GetEmbedderParameters=0", 2, kNull,
             "Get Embedder Parameters failed", Reached::kEmbedder},
    FaultRow{"Affinity", Tool::kEmbed, "SetThreadCPUAffinity=7", 7, "Thread policy is invalid",
             "Set Thread CPU Affinity failed", Reached::kEmbedder}
        .Args({"--affinity=1"}),
    FaultRow{"Priority", Tool::kEmbed, "SetThreadPriority=8", 8, "Thread priority is invalid",
             "Set Thread Priority failed", Reached::kEmbedder}
        .Args({"--prio=0,0"}),
    FaultRow{"GetParameters", Tool::kEmbed, "GetEmbedderParameters=121", 51, kUndefined,
             "Get Embedder Parameters failed", Reached::kEmbedder},
    FaultRow{"BitsPerSample", Tool::kEmbed, "SetBitsPerSample=23", 14, kAlreadyInitialized,
             "Set Bits Per Sample failed", Reached::kEmbedder},
    FaultRow{"Channels", Tool::kEmbed, "SetChannels=26", 17, kChannelsInvalid, "SetChannels failed",
             Reached::kEmbedder},
    FaultRow{"ChannelList", Tool::kEmbed, "GetChannelNameList=5", 5, kNoMemory,
             "GetChannelNameList failed", Reached::kEmbedder},
    FaultRow{"ChannelListEmpty", Tool::kEmbed, "channels=", 35, kUnknownChannel,
             "The embedder offers no channel to select", Reached::kEmbedder},
    FaultRow{"SelectFirstChannel", Tool::kEmbed, "SetChannelName=9", 51, kUndefined,
             "SetChannelName failed", Reached::kEmbedder},
    FaultRow{"SetChannelName", Tool::kEmbed, "SetChannelName=-3", 51, kUndefined,
             "SetChannelName failed", Reached::kEmbedder}
        .Args({"--channelName=STANDIN-B"}),
    FaultRow{"UnknownChannelName", Tool::kEmbed, "", 35, kUnknownChannel, "SetChannelName failed",
             Reached::kEmbedder}
        .Args({"--channelName=NO-SUCH-CHANNEL"}),
    FaultRow{"EnableRecord", Tool::kEmbed, "EnableRecord=100", 44, kIo, "EnableRecord failed",
             Reached::kEmbedder}
        .Args({"--record=DIR"}),
    FaultRow{"Initialize", Tool::kEmbed, "Initialize=115", 40, "Maximum 7 metadata can be added",
             "Initialize failed", Reached::kEmbedder},
    FaultRow{"AddAudioBufferFirstBlock", Tool::kEmbed, "AddAudioBuffer=23", 14, kAlreadyInitialized,
             "Add Audio Buffer failed", Reached::kInitialize},
    FaultRow{"AddAudioBufferLaterBlock", Tool::kEmbed, "AddAudioBuffer@3=64", 34,
             "Timecode looped while embedding", "Add Audio Buffer failed", Reached::kInitialize},
    // Passed on unconverted: 23 would become 14 through the library table, 60 has no text.
    FaultRow{"Resynchronize", Tool::kEmbed, "ResynchronizeTimecode=23", 23, kWatermarkDuration,
             "ResynchronizeTimecode failed", Reached::kInitialize},
    FaultRow{"ResynchronizeUndocumented", Tool::kEmbed, "ResynchronizeTimecode=60", 60,
             "undocumented", "ResynchronizeTimecode failed", Reached::kInitialize},
    // A code no exit status can carry: 256 would read as success.
    FaultRow{"ResynchronizeBeyondExitStatus", Tool::kEmbed, "ResynchronizeTimecode=256", 256,
             "undocumented", "ResynchronizeTimecode failed", Reached::kInitialize}
        .Exit(51),
    FaultRow{"ResynchronizeNotAllowedIsNoFailure", Tool::kEmbed, "ResynchronizeTimecode=81", 0, "",
             "", Reached::kInitialize},
    FaultRow{"TruncatedDataIsNoFailure", Tool::kEmbed, "", 0, "", "", Reached::kInitialize}.In(
        Input::kTruncatedData),
    FaultRow{"Finalize", Tool::kEmbed, "Finalize=120", 50, kReportFailed, kNotFinalized,
             Reached::kInitialize},
    // Finalising fails too: its code takes the place of the block's.
    FaultRow{"AddAudioBufferThenFinalize", Tool::kEmbed, "AddAudioBuffer@2=23;Finalize=117", 42,
             "Metadata (json) string parsing error", kNotFinalized, Reached::kInitialize},
    // The same checks with raw streams: the error line goes to standard error.
    FaultRow{"RawAddAudioBufferLaterBlock", Tool::kEmbed, "AddAudioBuffer@2=14", 11,
             kOnlineNotSupported, "Add Audio Buffer failed", Reached::kInitialize}
        .In(Input::kRawStdin)
        .Out(Output::kRawStdout),
    FaultRow{"RawFinalize", Tool::kEmbed, "Finalize=100", 44, kIo, kNotFinalized,
             Reached::kInitialize}
        .In(Input::kRawStdin)
        .Out(Output::kRawStdout),
};

const FaultRow kOnlineRows[] = {
    FaultRow{"CommandLine", Tool::kOnline, "", 43, "Error on command line",
             "Unknown option --bogus", Reached::kCommandLine}
        .Args({"--bogus"}),
    FaultRow{"ReaderMissingFile", Tool::kOnline, "", 44, kIo, "Unable to open input file",
             Reached::kInput}
        .In(Input::kMissing),
    FaultRow{"ReaderUnsupportedFile", Tool::kOnline, "", 45, "Unsupported WAV file opened",
             "Unable to open input file", Reached::kInput}
        .In(Input::kUnsupported),
    FaultRow{"RateNot48000", Tool::kOnline, "", 18, kRate, "Only 48000Hz WAV files can be used",
             Reached::kInput}
        .In(Input::kRate44100),
    FaultRow{"OutputInMissingDirectory", Tool::kOnline, "", 44, kIo,
             "Unable to initialize embedder listener", Reached::kInput}
        .Out(Output::kInMissingDirectory),
    FaultRow{"OutputIsInput", Tool::kOnline, "", 44, kIo, "Output file is the input file",
             Reached::kInput}
        .Out(Output::kSameAsInput),
    FaultRow{"Create", Tool::kOnline, "CreateOnlinePellionAudioEmbedder=23", 14,
             kAlreadyInitialized, "Create Pellion AudioEmbedder failed", Reached::kOutput},
    FaultRow{"CreateWithoutEmbedder", Tool::kOnline, "CreateOnlinePellionAudioEmbedder=0", 2, kNull,
             "Create Pellion AudioEmbedder failed", Reached::kOutput},
    FaultRow{"GetParametersWithoutObject", Tool::kOnline, "GetEmbedderParameters=0", 2, kNull,
             "Get Embedder Parameters failed", Reached::kEmbedder},
    FaultRow{"MetadataMissing", Tool::kOnline, "", 44, kIo, "Unable to open metadata file",
             Reached::kEmbedder}
        .Meta(Metadata::kMissing),
    FaultRow{"MetadataUnreadable", Tool::kOnline, "", 44, kIo, "Unable to read metadata file",
             Reached::kEmbedder}
        .Meta(Metadata::kDirectory),
    FaultRow{"MetadataNotJson", Tool::kOnline, "", 42, "Metadata (json) string parsing error",
             "AddMetadata failed", Reached::kEmbedder}
        .Meta(Metadata::kNotJson),
    FaultRow{"AddMetadata", Tool::kOnline, "AddMetadata=14", 11, kOnlineNotSupported,
             "AddMetadata failed", Reached::kEmbedder},
    FaultRow{"Affinity", Tool::kOnline, "SetThreadCPUAffinity=8", 8, "Thread priority is invalid",
             "Set Thread CPU Affinity failed", Reached::kEmbedder}
        .Args({"--affinity=1"}),
    FaultRow{"Priority", Tool::kOnline, "SetThreadPriority=7", 7, "Thread policy is invalid",
             "Set Thread Priority failed", Reached::kEmbedder}
        .Args({"--prio=0,0"}),
    FaultRow{"GetParameters", Tool::kOnline, "GetEmbedderParameters=9", 51, kUndefined,
             "Get Embedder Parameters failed", Reached::kEmbedder},
    FaultRow{"BitsPerSample", Tool::kOnline, "SetBitsPerSample=14", 11, kOnlineNotSupported,
             "Set Bits Per Sample failed", Reached::kEmbedder},
    FaultRow{"Channels", Tool::kOnline, "SetChannels=121", 51, kUndefined, "SetChannels failed",
             Reached::kEmbedder},
    FaultRow{"ChannelList", Tool::kOnline, "GetChannelNameList=26", 17, kChannelsInvalid,
             "GetChannelNameList failed", Reached::kEmbedder},
    FaultRow{"EnableRecord", Tool::kOnline, "EnableRecord=5", 5, kNoMemory, "EnableRecord failed",
             Reached::kEmbedder}
        .Args({"--record=DIR"}),
    FaultRow{"Initialize", Tool::kOnline, "Initialize=116", 41,
             "Metadata(json) string is mandatory for online SDK", "Initialize failed",
             Reached::kEmbedder},
    FaultRow{"AddAudioBufferFirstBlock", Tool::kOnline, "AddAudioBuffer=14", 11,
             kOnlineNotSupported, "AddAudioBuffer failed", Reached::kInitialize},
    FaultRow{"AddAudioBufferLaterBlock", Tool::kOnline, "AddAudioBuffer@3=100", 44, kIo,
             "AddAudioBuffer failed", Reached::kInitialize},
    FaultRow{"Resynchronize", Tool::kOnline, "ResynchronizeTimecode=14", 14, kAlreadyInitialized,
             "ResynchronizeTimecode failed", Reached::kInitialize},
    FaultRow{"ResynchronizeNegative", Tool::kOnline, "ResynchronizeTimecode=-2", -2, "undocumented",
             "ResynchronizeTimecode failed", Reached::kInitialize}
        .Exit(51),
    FaultRow{"TruncatedDataIsNoFailure", Tool::kOnline, "", 0, "", "", Reached::kInitialize}.In(
        Input::kTruncatedData),
    FaultRow{"FinalizeWithoutReport", Tool::kOnline, "FinalizeWithReport=23", 14,
             kAlreadyInitialized, kNotFinalized, Reached::kInitialize},
    FaultRow{"FinalizeEmptyReport", Tool::kOnline, "FinalizeWithReport=121;report=", 51, kUndefined,
             kNotFinalized, Reached::kInitialize},
    FaultRow{"FinalizeReportSent", Tool::kOnline, "FinalizeWithReport=23;report={\"job\":1}", 0, "",
             "", Reached::kInitialize},
    FaultRow{"SendJobReport", Tool::kOnline,
             "FinalizeWithReport=23;report={\"job\":1};SendJobReport=120", 50, kReportFailed,
             kNotFinalized, Reached::kInitialize},
    // A report that saves the job does not excuse the block that failed before.
    FaultRow{"AddAudioBufferThenReportSent", Tool::kOnline,
             "AddAudioBuffer@2=26;FinalizeWithReport=23;report={\"job\":1}", 17, kChannelsInvalid,
             "AddAudioBuffer failed", Reached::kInitialize},
};

std::string RowName(const testing::TestParamInfo<FaultRow>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Embed, E2eFaultMatrixTest, testing::ValuesIn(kEmbedRows), RowName);
INSTANTIATE_TEST_SUITE_P(Online, E2eFaultMatrixTest, testing::ValuesIn(kOnlineRows), RowName);

// The rows that fail before the job starts, with a WAV output of their own.
template <size_t N>
std::vector<FaultRow> SetUpFailures(const FaultRow (&rows)[N]) {
    std::vector<FaultRow> failures;
    for (const FaultRow& row : rows) {
        if (row.reached != Reached::kInitialize && row.output == Output::kWav) {
            failures.push_back(row);
        }
    }
    return failures;
}

INSTANTIATE_TEST_SUITE_P(Embed, E2eSetUpFailureTest, testing::ValuesIn(SetUpFailures(kEmbedRows)),
                         RowName);
INSTANTIATE_TEST_SUITE_P(Online, E2eSetUpFailureTest, testing::ValuesIn(SetUpFailures(kOnlineRows)),
                         RowName);

// The reader failing in the middle of the data: the input file shrinks while it is being
// read, so the next read finds neither samples nor the end it expected.
TEST(E2eFaultMatrixReadTest, ReadErrorMidFileIsReportedAndTheJobFinalised) {
    for (const Tool tool : {Tool::kEmbed, Tool::kOnline}) {
        SCOPED_TRACE(tool == Tool::kEmbed ? "pellion-embed" : "pellion-embed-online");
        WorkDir work;
        const std::string input = work.path("in.wav");
        const std::string output = work.path("out.wav");
        const std::string trace = work.path("trace.txt");
        // Five seconds of audio, fed at the pace of real time.
        WriteWholeFile(input,
                       SimpleWav(kChannels, 48000, kBits, TestSamples(240000, kChannels, kBits)));
        ProcessOptions options;
        options.args = {input, output};
        if (tool == Tool::kOnline) {
            WriteWholeFile(work.path("job.json"), "{}");
            const std::vector<std::string> account = OnlineAccountArgs(work.path("job.json"));
            options.args.insert(options.args.end(), account.begin(), account.end());
        }
        options.stdinDevNull = true;
        options.env = StandinEnv(trace);
        ChildProcess child(tool == Tool::kEmbed ? EmbedderToolPath() : OnlineEmbedderToolPath(),
                           options);
        // Cut the file once the program is feeding the embedder from it.
        child.PumpUntil([&] { return TraceHas(ReadLines(trace), "AddAudioBuffer"); },
                        std::chrono::seconds(20));
        ASSERT_EQ(truncate(input.c_str(), 44), 0);
        const ProcessResult result = child.Finish();

        ASSERT_FALSE(result.timedOut);
        ASSERT_EQ(result.signal, 0);
        EXPECT_EQ(result.exitStatus, 44) << result.out << result.err;
        EXPECT_NE(result.out.find("[ERROR] code 44 (An I/O error occurred). Reading error\n"),
                  std::string::npos)
            << result.out;
        const std::vector<std::string> lines = ReadLines(trace);
        EXPECT_TRUE(TraceHas(lines, tool == Tool::kEmbed ? "Finalize" : "FinalizeWithReport"));
        const WrittenWav written = ReadWrittenWav(output);
        EXPECT_TRUE(written.valid && written.complete) << written.problem;
    }
}

// A read error on standard input is no end of the input.
TEST(E2eFaultMatrixReadTest, StandardInputReadErrorIsReportedAndTheJobFinalised) {
    WorkDir work;
    const std::string trace = work.path("trace.txt");
    ProcessOptions options;
    options.args = {"stdin",
                    work.path("out.wav"),
                    "--stdin-sampling-rate=48000",
                    "--stdin-nb-channels=2",
                    "--stdin-bits-per-sample=16",
                    "--stdin-endianness=le"};
    options.stdinFile = work.dir();  // reading a directory fails
    options.env = StandinEnv(trace);
    const ProcessResult result = RunProcess(EmbedderToolPath(), options);

    ASSERT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 44) << result.out << result.err;
    EXPECT_NE(result.out.find("[ERROR] code 44 (An I/O error occurred). Reading error\n"),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(TraceHas(ReadLines(trace), "Finalize"));
    const WrittenWav written = ReadWrittenWav(work.path("out.wav"));
    EXPECT_TRUE(written.valid && written.complete) << written.problem;
    EXPECT_TRUE(written.samples.empty());
}

}  // namespace
