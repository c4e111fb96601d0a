// Inputs and outputs that a careless or hostile caller may hand the programs: each run ends
// on its own, by exit status and never by a signal, with one clear result line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "wav_layout.h"

namespace {

enum class Tool { kEmbed, kOnline };

const std::map<int, std::string> kTexts = {
    {16,
     "Bit per sample value provided is invalid - bit per sample value shall be either 16, 24 or "
     "32"},
    {17, "Number of audio channels provided is invalid - This shall be greater than 0"},
    {18, "The audio sample rate shall be only 48000Hz"},
    {19, "A buffer whose size is not a factor of sample size has been provided"},
    {44, "An I/O error occurred"},
    {45, "Unsupported WAV file opened"},
};

const std::vector<std::string> kRawFormat = {"--stdin-sampling-rate=48000", "--stdin-nb-channels=2",
                                             "--stdin-bits-per-sample=16", "--stdin-endianness=le"};

ByteVector GoodWav() {
    return SimpleWav(2, 48000, 16, TestSamples(700, 2, 16));
}

// The input file, the output file and the options of one run, and whether the console lines
// go to standard error (they do when standard output carries the audio).
struct RunSetup {
    std::string input;
    std::string output;
    ProcessOptions options;
    bool consoleOnStderr = false;
};

struct BadInputRow {
    const char* name;
    Tool tool;
    std::function<void(const WorkDir&, RunSetup&)> prepare;
    int code;  // 0: the run succeeds, on what little audio there was
    std::string context;
};

void PrintTo(const BadInputRow& row, std::ostream* out) {
    *out << row.name;
}

std::function<void(const WorkDir&, RunSetup&)> InputFile(ByteVector bytes) {
    return [bytes](const WorkDir&, RunSetup& run) { WriteWholeFile(run.input, bytes); };
}

ProcessResult Execute(Tool tool, const WorkDir& work, RunSetup& run) {
    run.options.args.insert(run.options.args.begin(), {run.input, run.output});
    if (tool == Tool::kOnline) {
        WriteWholeFile(work.path("job.json"), "{}");
        const std::vector<std::string> account = OnlineAccountArgs(work.path("job.json"));
        run.options.args.insert(run.options.args.end(), account.begin(), account.end());
    }
    if (run.options.stdinChunks.empty() && !run.options.stdinFile) run.options.stdinDevNull = true;
    run.options.env = StandinEnv(work.path("trace.txt"));
    run.options.timeout = std::chrono::milliseconds(30000);
    return RunProcess(tool == Tool::kEmbed ? EmbedderToolPath() : OnlineEmbedderToolPath(),
                      run.options);
}

// `silent`: a run that succeeds prints nothing (output "stdout" implies --silent).
void ExpectResultLine(const ProcessResult& result, const std::string& console, int code,
                      const std::string& context, bool silent = false) {
    ASSERT_FALSE(result.timedOut) << "the run hung";
    ASSERT_EQ(result.signal, 0) << result.err;
    EXPECT_EQ(result.exitStatus, code) << result.out << result.err;
    if (code == 0) {
        EXPECT_EQ(console.find("[SUCCESS]\n") != std::string::npos, !silent) << console;
        EXPECT_EQ(console.find("[ERROR]"), std::string::npos) << console;
        return;
    }
    const std::string line =
        "[ERROR] code " + std::to_string(code) + " (" + kTexts.at(code) + "). " + context + "\n\n";
    EXPECT_NE(console.find(line), std::string::npos) << "wanted: " << line << "got:\n" << console;
    EXPECT_EQ(console.find("[ERROR]"), console.rfind("[ERROR]")) << console;
}

class E2eBadInputTest : public testing::TestWithParam<BadInputRow> {};

TEST_P(E2eBadInputTest, EndsWithAClearResultLine) {
    const BadInputRow& row = GetParam();
    WorkDir work;
    RunSetup run;
    run.input = work.path("in.wav");
    run.output = work.path("out.wav");
    row.prepare(work, run);
    const ProcessResult result = Execute(row.tool, work, run);
    ExpectResultLine(result, run.consoleOnStderr ? result.err : result.out, row.code, row.context,
                     run.consoleOnStderr);
    // Whatever was created is a complete WAV file.
    std::error_code unused;
    if (std::filesystem::is_regular_file(run.output, unused) && run.output != run.input) {
        const WrittenWav written = ReadWrittenWav(run.output);
        EXPECT_TRUE(written.valid && written.complete) << written.problem;
    }
}

ByteVector WavWithFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
    return SimpleWav(channels, rate, bits, Pattern(2048));
}

const ByteVector kDs64Near2To64 = Rf64File({Chunk("fmt ", PlainFormatBody(2, 48000, 16)),
                                            ChunkDeclaring("data", 0xFFFFFFFF, Pattern(3000))},
                                           ~uint64_t{15}, 750);  // runs to the end of the file

const BadInputRow kRows[] = {
    {"EmptyFile", Tool::kEmbed, InputFile({}), 44, "Unable to open input file"},
    {"Garbage", Tool::kEmbed, InputFile(Pattern(5000, 3)), 45, "Unable to open input file"},
    {"DirectoryAsInput", Tool::kEmbed,
     [](const WorkDir& work, RunSetup& run) { run.input = work.dir(); }, 44,
     "Unable to open input file"},
    {"InputReadsFail", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) { run.input = "/proc/self/mem"; }, 44,
     "Unable to open input file"},
    {"HugeDataSize", Tool::kEmbed,
     InputFile(RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16)),
                         ChunkDeclaring("data", 0xFFFFFFFE, Pattern(3000))})),
     0, ""},
    {"Ds64DataSizeNear2To64", Tool::kEmbed, InputFile(kDs64Near2To64), 0, ""},
    {"Ds64DataSizeNear2To64Online", Tool::kOnline, InputFile(kDs64Near2To64), 0, ""},
    {"HugeChunkBeforeFormat", Tool::kEmbed,
     InputFile(
         RiffFile({ChunkDeclaring("LIST", 0xFFFFFFF0, Pattern(4)),
                   Chunk("fmt ", PlainFormatBody(2, 48000, 16)), Chunk("data", Pattern(64))})),
     44, "Unable to open input file"},
    {"HugeFormatChunk", Tool::kEmbed,
     InputFile(RiffFile({ChunkDeclaring("fmt ", 0xFFFFFFF0, PlainFormatBody(2, 48000, 16)),
                         Chunk("data", Pattern(64))})),
     45, "Unable to open input file"},
    {"HugeChunkBeforeData", Tool::kEmbed,
     InputFile(
         RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16)),
                   ChunkDeclaring("junk", 0x7FFFFFFF, Pattern(8)), Chunk("data", Pattern(64))})),
     44, "Unable to open input file"},
    // Formats whose byte rate or block align no WAV header field can hold.
    {"HugeRate", Tool::kEmbed, InputFile(WavWithFormat(2, 0xFFFFFFFF, 16)), 45,
     "Unable to open input file"},
    {"ManyWideChannels", Tool::kEmbed, InputFile(WavWithFormat(65535, 48000, 32)), 45,
     "Unable to open input file"},
    {"WidestFrameAHeaderCanHold", Tool::kEmbed, InputFile(WavWithFormat(16383, 48000, 32)), 0,
     ""},
    {"ZeroChannels", Tool::kEmbed, InputFile(WavWithFormat(0, 48000, 16)), 17,
     "SetChannels failed"},
    {"EightBitSamples", Tool::kEmbed, InputFile(WavWithFormat(2, 48000, 8)), 16,
     "Set Bits Per Sample failed"},
    {"OnlineEmptyFile", Tool::kOnline, InputFile({}), 44, "Unable to open input file"},
    {"OnlineZeroChannels", Tool::kOnline, InputFile(WavWithFormat(0, 48000, 16)), 17,
     "SetChannels failed"},
    {"OnlineManyWideChannels", Tool::kOnline, InputFile(WavWithFormat(32768, 48000, 16)), 45,
     "Unable to open input file"},

    {"OutputUnderAFile", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         run.output = run.input + "/out.wav";
     },
     44, "Unable to initialize embedder listener"},
    {"OutputWhereNothingCanBeCreated", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         run.output = "/proc/pellion-out.wav";
     },
     44, "Unable to initialize embedder listener"},
    {"OutputIsADirectory", Tool::kEmbed,
     [](const WorkDir& work, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         run.output = work.dir();
     },
     44, "Unable to initialize embedder listener"},
    {"InputPathTooLong", Tool::kEmbed,
     [](const WorkDir& work, RunSetup& run) { run.input = work.path(std::string(5000, 'i')); },
     44, "Unable to open input file"},
    {"OutputPathTooLong", Tool::kOnline,
     [](const WorkDir& work, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         run.output = work.path(std::string(5000, 'o'));
     },
     44, "Unable to initialize embedder listener"},
    {"OutputOnAFullDevice", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         run.output = "/dev/full";
     },
     44, "Unable to write output file"},
    {"OnlineOutputOnAFullDevice", Tool::kOnline,
     [](const WorkDir&, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         run.output = "/dev/full";
     },
     44, "Unable to write output file"},
    {"OutputIsInputThroughSymlink", Tool::kEmbed,
     [](const WorkDir& work, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         std::filesystem::create_symlink(run.input, work.path("link.wav"));
         run.output = work.path("link.wav");
     },
     44, "Output file is the input file"},
    {"OutputIsInputThroughHardLink", Tool::kOnline,
     [](const WorkDir& work, RunSetup& run) {
         WriteWholeFile(run.input, GoodWav());
         std::filesystem::create_hard_link(run.input, work.path("link.wav"));
         run.output = work.path("link.wav");
     },
     44, "Output file is the input file"},

    {"StdinClosedAtOnce", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         run.input = "stdin";
         run.options.args = kRawFormat;
     },
     0, ""},
    {"StdinClosedAtOnceToStdout", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         run.input = "stdin";
         run.output = "stdout";
         run.options.args = kRawFormat;
         run.consoleOnStderr = true;
     },
     0, ""},
    // Half a sample at the end: dropped with the rest of its frame.
    {"StdinOddByteCount", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         run.input = "stdin";
         run.options.args = kRawFormat;
         run.options.stdinChunks = {{std::chrono::milliseconds(0), std::string(1001, 'x')}};
     },
     0, ""},
    // Whole samples but half a frame, delivered in odd pieces.
    {"StdinHalfFrameInPieces", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         run.input = "stdin";
         run.output = "stdout";
         run.options.args = kRawFormat;
         run.consoleOnStderr = true;
         run.options.stdinChunks = {{std::chrono::milliseconds(0), std::string(1001, 'x')},
                                    {std::chrono::milliseconds(20), std::string(3001, 'y')}};
     },
     0, ""},
    {"StdoutOnAFullDevice", Tool::kEmbed,
     [](const WorkDir&, RunSetup& run) {
         run.input = "stdin";
         run.output = "stdout";
         run.options.args = kRawFormat;
         run.options.stdoutFile = "/dev/full";
         run.consoleOnStderr = true;
         run.options.stdinChunks = {{std::chrono::milliseconds(0), std::string(40000, 'z')}};
     },
     44, "Unable to write audio to standard output"},
};

std::string RowName(const testing::TestParamInfo<BadInputRow>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Catalog, E2eBadInputTest, testing::ValuesIn(kRows), RowName);

// A WAV header cut off after each of its 44 bytes. Cut before the data chunk's size, the
// file cannot be opened; cut inside or after the size, it opens with no samples to read.
TEST(E2eBadInputHeaderTest, EveryTruncatedHeaderEndsCleanly) {
    const ByteVector full = SimpleWav(2, 48000, 16, {});
    ASSERT_EQ(full.size(), 44u);
    for (size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE("header cut to " + std::to_string(length) + " bytes");
        WorkDir work;
        RunSetup run;
        run.input = work.path("in.wav");
        run.output = work.path("out.wav");
        WriteWholeFile(run.input, ByteVector(full.begin(), full.begin() + length));
        const ProcessResult result = Execute(Tool::kEmbed, work, run);
        if (length < 40) {
            ExpectResultLine(result, result.out, 44, "Unable to open input file");
            EXPECT_FALSE(std::filesystem::exists(run.output));
        } else {
            ExpectResultLine(result, result.out, 0, "");
            const WrittenWav written = ReadWrittenWav(run.output);
            EXPECT_TRUE(written.complete) << written.problem;
            EXPECT_TRUE(written.samples.empty());
        }
    }
}

// Whoever reads standard output may stop early: the run ends with an I/O error instead of
// being killed by SIGPIPE.
TEST(E2eBadInputPipeTest, StandardOutputClosedByTheReader) {
    WorkDir work;
    WriteWholeFile(work.path("raw.pcm"), Pattern(400000, 5));
    std::string command = "'" + EmbedderToolPath() + "' stdin stdout";
    for (const std::string& option : kRawFormat) command += " " + option;
    command += " < '" + work.path("raw.pcm") + "' 2> '" + work.path("err.txt") +
               "' | head -c 100 > /dev/null; exit ${PIPESTATUS[0]}";
    ProcessOptions options;
    options.args = {"-c", command};
    options.stdinDevNull = true;
    options.env = StandinEnv(work.path("trace.txt"));
    const ProcessResult result = RunProcess("/bin/bash", options);
    // bash reports a child killed by a signal as 128 + the signal's number.
    const ByteVector err = ReadWholeFile(work.path("err.txt"));
    ExpectResultLine(result, std::string(err.begin(), err.end()), 44,
                     "Unable to write audio to standard output", true);
}

// Only meaningful where permissions are enforced: root reads and writes everything.
TEST(E2eBadInputPermissionTest, UnreadableInputAndUnwritableOutputDirectory) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    WorkDir work;
    {
        RunSetup run;
        run.input = work.path("in.wav");
        run.output = work.path("out.wav");
        WriteWholeFile(run.input, GoodWav());
        ASSERT_EQ(chmod(run.input.c_str(), 0), 0);
        const ProcessResult result = Execute(Tool::kEmbed, work, run);
        ExpectResultLine(result, result.out, 44, "Unable to open input file");
    }
    {
        RunSetup run;
        run.input = work.path("in2.wav");
        std::filesystem::create_directory(work.path("locked"));
        run.output = work.path("locked/out.wav");
        WriteWholeFile(run.input, GoodWav());
        ASSERT_EQ(chmod(work.path("locked").c_str(), 0500), 0);
        const ProcessResult result = Execute(Tool::kEmbed, work, run);
        ExpectResultLine(result, result.out, 44, "Unable to initialize embedder listener");
    }
}

}  // namespace
