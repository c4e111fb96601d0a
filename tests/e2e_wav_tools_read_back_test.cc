// Common audio tools read back what the programs keep of a WAV input: ffprobe finds the
// broadcast time reference and the speaker layout; sox, ffmpeg and libsndfile read an RF64
// output whole.
// Each test is skipped, naming the tool, where that tool is not installed
// (scripts/install_audio_tools.sh installs them).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_embedder_support.h"
#include "wav_layout.h"

namespace {

#define REQUIRE_PROGRAM(variable, program, package)                              \
    const std::string variable = FindProgram(program);                           \
    if (variable.empty()) {                                                      \
        GTEST_SKIP() << program " is not installed (Debian package " package     \
                                "; scripts/install_audio_tools.sh installs it)"; \
    }

// Standard output of a tool run; the test fails when the tool does.
std::string Output(const std::string& program, const std::vector<std::string>& args) {
    ProcessOptions options;
    options.args = args;
    options.stdinDevNull = true;
    options.timeout = std::chrono::milliseconds(30000);
    const ProcessResult result = RunProcess(program, options);
    EXPECT_EQ(result.exitStatus, 0) << program << ": " << result.err;
    return result.out;
}

// Runs pellion-embed from `input` into out.wav and returns the output's path.
std::string Embed(const WorkDir& work, const ByteVector& input) {
    WriteWholeFile(work.path("in.wav"), input);
    const EmbedderRun run =
        RunEmbedder(work, EmbedderOptions(work, {work.path("in.wav"), work.path("out.wav")}));
    EXPECT_EQ(run.process.exitStatus, 0) << run.process.out << run.process.err;
    return work.path("out.wav");
}

std::string Probe(const std::string& ffprobe, const std::string& entries, const std::string& path) {
    return Output(ffprobe, {"-v", "error", "-show_entries", entries, "-of",
                            "default=noprint_wrappers=1", path});
}

TEST(E2eWavToolsReadBackTest, FfprobeFindsTheTimeReferenceAndTheSpeakerLayout) {
    REQUIRE_PROGRAM(ffprobe, "ffprobe", "ffmpeg");
    WorkDir work;
    // 20:00:00 at 48000 Hz.
    const std::string bwf =
        Embed(work, RiffFile({Chunk("bext", BextBody(3456000000, "A=PCM,F=48000,W=16\r\n")),
                              Chunk("fmt ", PlainFormatBody(2, 48000, 16)),
                              Chunk("data", TestSamples(700, 2, 16))}));
    EXPECT_EQ(Probe(ffprobe, "format_tags=time_reference", bwf), "TAG:time_reference=3456000000\n");

    struct Case {
        uint16_t channels, bits;
        uint32_t mask;
        std::string layout;
    };
    // Beside a LIST chunk, as ffmpeg writes them: the first six speakers stay named too.
    for (const Case& c :
         {Case{8, 24, 0x63F, "7.1"}, Case{6, 16, 0x60F, "5.1(side)"}, Case{6, 16, 0x3F, "5.1"}}) {
        SCOPED_TRACE(c.layout);
        const std::string output = Embed(
            work, RiffFile({Chunk("fmt ",
                                  ExtensibleFormatBodyWithMask(c.channels, 48000, c.bits, c.mask)),
                            ListChunk("INFO", {Chunk("ISFT", BytesOf("Lavf59.27.100"))}),
                            Chunk("data", TestSamples(700, c.channels, c.bits))}));
        EXPECT_EQ(Probe(ffprobe, "stream=channel_layout", output),
                  "channel_layout=" + c.layout + "\n");
    }
}

TEST(E2eWavToolsReadBackTest, SoxFfmpegAndLibsndfileReadAnRf64OutputWhole) {
    REQUIRE_PROGRAM(sox, "sox", "sox");
    REQUIRE_PROGRAM(ffmpeg, "ffmpeg", "ffmpeg");
    WorkDir work;
    const size_t frames = 24001;  // half a second, and an odd audio region at 24-bit mono
    const ByteVector samples = TestSamples(frames, 1, 24);
    ByteVector data = ChunkDeclaring("data", 0xFFFFFFFF, samples);
    data.push_back(0);
    const std::string output =
        Embed(work, Rf64File({Chunk("fmt ", ExtensibleFormatBody(1, 48000, 24)), data,
                              Chunk("cue ", Pattern(28, 3))},
                             samples.size(), frames));
    ASSERT_EQ(ParseWavLayout(ReadWholeFile(output)).form, "RF64");

    EXPECT_EQ(Output(sox, {"--i", "-s", output}), std::to_string(frames) + "\n");
    const std::string soxSamples = Output(sox, {output, "-t", "raw", "-"});
    EXPECT_EQ(WithoutMark(BytesOf(soxSamples), 24), WithoutMark(samples, 24));
    const std::string ffmpegSamples =
        Output(ffmpeg, {"-v", "error", "-i", output, "-f", "s24le", "-"});
    EXPECT_EQ(WithoutMark(BytesOf(ffmpegSamples), 24), WithoutMark(samples, 24));
    const long long libsndfileFrames = FramesReadBy("sndfile-info", output);
    if (libsndfileFrames == -1) GTEST_SKIP() << "sndfile-info is not installed (sndfile-programs)";
    EXPECT_EQ(libsndfileFrames, static_cast<long long>(frames));
}

// A FIFO cannot have its sizes rewritten: it is written as a stream that runs to its end, and
// the run succeeds.
TEST(E2eWavToolsReadBackTest, SoxReadsAFifoOutputWhole) {
    REQUIRE_PROGRAM(sox, "sox", "sox");
    WorkDir work;
    const ByteVector samples = TestSamples(30000, 2, 24);
    WriteWholeFile(work.path("in.wav"), SimpleWav(2, 48000, 24, samples));
    ASSERT_EQ(mkfifo(work.path("fifo.wav").c_str(), 0600), 0);
    ProcessOptions reading;
    reading.args = {"-t", "wav", work.path("fifo.wav"), "-t", "raw", work.path("got.raw")};
    reading.stdinDevNull = true;
    ChildProcess sox_(sox, reading);
    const ProcessResult run = RunProcess(
        EmbedderToolPath(), EmbedderOptions(work, {work.path("in.wav"), work.path("fifo.wav")}));
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(sox_.Finish().exitStatus, 0);
    EXPECT_EQ(WithoutMark(ReadWholeFile(work.path("got.raw")), 24), WithoutMark(samples, 24));
}

// Standard output as the WAV output holds the audio and no console byte: tools at the other
// end of a pipe read every frame, and a file it is redirected to gets the same bytes as the
// file named directly.
TEST(E2eWavToolsReadBackTest, AWavOnStandardOutputIsReadWholeThroughAPipeOrAFile) {
    REQUIRE_PROGRAM(sox, "sox", "sox");
    REQUIRE_PROGRAM(ffmpeg, "ffmpeg", "ffmpeg");
    WorkDir work;
    const ByteVector samples = TestSamples(30000, 2, 16);
    const std::string named = Embed(work, SimpleWav(2, 48000, 16, samples));
    // $0 the program, $1 the input; each line leaves its audio in got.wav or got.raw.
    for (const std::string script :
         {"\"$0\" \"$1\" /dev/stdout | sox -t wav - -t raw got.raw",
          "\"$0\" \"$1\" /dev/stdout | ffmpeg -v error -f wav -i - -f s16le got.raw",
          "\"$0\" \"$1\" - | ffmpeg -v error -f wav -i - -f s16le got.raw",
          "\"$0\" \"$1\" /dev/stdout > got.wav", "\"$0\" \"$1\" - > got.wav",
          "cat \"$1\" | \"$0\" /dev/stdin /dev/stdout | cat > got.wav"}) {
        SCOPED_TRACE(script);
        ProcessOptions options =
            EmbedderOptions(work, {"-c", "cd '" + work.dir() + "' && " + script, EmbedderToolPath(),
                                   work.path("in.wav")});
        const ProcessResult result = RunProcess("/bin/sh", options);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_NE(result.err.find("[SUCCESS]\n"), std::string::npos) << result.err;
        if (std::filesystem::exists(work.path("got.wav"))) {
            const ByteVector got = ReadWholeFile(work.path("got.wav"));
            const ByteVector expected = ReadWholeFile(named);
            std::filesystem::remove(work.path("got.wav"));
            // Through a pipe a stream, whose sizes say that it runs to its end.
            const bool piped = script.find("| cat") != std::string::npos;
            ASSERT_EQ(got.size(), expected.size());
            EXPECT_EQ(LoadU32At(got, 40), piped ? 0xFFFFFFFFu : LoadU32At(expected, 40));
            EXPECT_TRUE(std::equal(got.begin() + 44, got.end(), expected.begin() + 44));
            continue;
        }
        EXPECT_EQ(WithoutMark(ReadWholeFile(work.path("got.raw")), 16), WithoutMark(samples, 16));
        std::filesystem::remove(work.path("got.raw"));
    }
}

// A WAV stream that a tool writes to a pipe, its sizes unknown, is read whole, through "-" too,
// with the chunks before the audio: ffmpeg names itself in a LIST/INFO chunk.
TEST(E2eWavToolsReadBackTest, WavStreamsFromAPipeAreReadWhole) {
    REQUIRE_PROGRAM(sox, "sox", "sox");
    REQUIRE_PROGRAM(ffmpeg, "ffmpeg", "ffmpeg");
    WorkDir work;
    for (const auto& [tool, input] : std::vector<std::pair<std::string, std::string>>{
             {ffmpeg + " -v error -f lavfi -i sine=r=48000:d=0.5 -ac 2 -f wav -", "/dev/stdin"},
             {sox + " -D -n -r 48000 -c 2 -b 16 -t wav - synth 0.5 sine 440", "-"}}) {
        SCOPED_TRACE(tool);
        const std::string chain = tool + " | tee " + work.path("in.wav") + " | " +
                                  EmbedderToolPath() + " " + input + " " + work.path("out.wav");
        ASSERT_EQ(RunProcess("/bin/sh", EmbedderOptions(work, {"-c", chain})).exitStatus, 0);
        const ByteVector stream = ReadWholeFile(work.path("in.wav"));
        const ByteVector audio = ReadWrittenWav(work.path("out.wav")).samples;
        ASSERT_EQ(audio.size(), 96000u);
        EXPECT_EQ(WithoutMark(audio, 16),
                  WithoutMark(ByteVector(stream.end() - 96000, stream.end()), 16));
        EXPECT_EQ(ParseWavLayout(ReadWholeFile(work.path("out.wav"))).Find("LIST") != nullptr,
                  input == "/dev/stdin");
    }
}

}  // namespace
