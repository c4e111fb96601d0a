// Audio through pellion-embed and back, for every sample width, channel count, input and
// output: only the least significant bit of each sample may change. A missed or doubled byte
// swap, or a 24-bit sample widened into the wrong bytes, changes the other bits.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "e2e_embedder_support.h"

namespace {

// Two whole blocks and a short one.
constexpr size_t kFrames = 1300;

struct Format {
    int bits;
    int channels;
};

void PrintTo(const Format& format, std::ostream* out) {
    *out << format.bits << "-bit, " << format.channels << " channel(s)";
}

std::string FormatName(const testing::TestParamInfo<Format>& info) {
    return "Bits" + std::to_string(info.param.bits) +
           (info.param.channels == 1 ? "Mono" : "Stereo");
}

class E2eEmbedderRoundTripTest : public testing::TestWithParam<Format> {
protected:
    int bits() const { return GetParam().bits; }
    int channels() const { return GetParam().channels; }

    // Runs `input` (a WAV file of the samples, or "stdin": the samples in `endianness`) into
    // `output`.
    EmbedderRun Run(const std::string& input, const std::string& output,
                    const std::string& endianness = "le") {
        ProcessOptions options = EmbedderOptions(dir_, {input, output});
        if (input == "stdin") {
            options.args = Concat(options.args, StdinFormatArgs(channels(), bits(), endianness));
            options.stdinChunks =
                StdinAtOnce(endianness == "be" ? ReverseSampleBytes(samples_, bits()) : samples_);
        }
        EmbedderRun run = RunEmbedder(dir_, options);
        EXPECT_EQ(run.process.exitStatus, 0) << run.process.out << run.process.err;
        return run;
    }

    void ExpectWavOutput(const std::string& path) {
        const WrittenWav wav = ReadWrittenWav(path);
        ASSERT_TRUE(wav.complete) << wav.problem;
        EXPECT_EQ(wav.channels, channels());
        EXPECT_EQ(wav.rate, 48000u);
        EXPECT_EQ(wav.bits, bits());
        EXPECT_EQ(WithoutMark(wav.samples, bits()), WithoutMark(samples_, bits()));
    }

    WorkDir dir_;
    const ByteVector samples_ = TestSamples(kFrames, channels(), bits());
};

TEST_P(E2eEmbedderRoundTripTest, WavFileToWavFile) {
    const std::string input = dir_.path("in.wav");
    WriteWholeFile(input, SimpleWav(channels(), 48000, bits(), samples_));
    Run(input, dir_.path("out.wav"));
    ExpectWavOutput(dir_.path("out.wav"));
}

TEST_P(E2eEmbedderRoundTripTest, WavFileToStandardOutputIsLittleEndian) {
    const std::string input = dir_.path("in.wav");
    WriteWholeFile(input, SimpleWav(channels(), 48000, bits(), samples_));
    const EmbedderRun run = Run(input, "stdout");
    EXPECT_EQ(WithoutMark(BytesOf(run.process.out), bits()), WithoutMark(samples_, bits()));
}

TEST_P(E2eEmbedderRoundTripTest, StandardInputOfEitherByteOrderToWavFile) {
    for (const std::string endianness : {"le", "be"}) {
        SCOPED_TRACE(endianness);
        const std::string output = dir_.path("out-" + endianness + ".wav");
        Run("stdin", output, endianness);
        ExpectWavOutput(output);
    }
}

TEST_P(E2eEmbedderRoundTripTest, StandardInputToStandardOutputKeepsTheByteOrder) {
    const EmbedderRun little = Run("stdin", "stdout", "le");
    EXPECT_EQ(WithoutMark(BytesOf(little.process.out), bits()), WithoutMark(samples_, bits()));

    const ByteVector bigEndian = ReverseSampleBytes(samples_, bits());
    const EmbedderRun big = Run("stdin", "stdout", "be");
    EXPECT_EQ(WithoutMarkBigEndian(BytesOf(big.process.out), bits()),
              WithoutMarkBigEndian(bigEndian, bits()));
}

INSTANTIATE_TEST_SUITE_P(Formats, E2eEmbedderRoundTripTest,
                         testing::Values(Format{16, 1}, Format{16, 2}, Format{24, 1}, Format{24, 2},
                                         Format{32, 1}, Format{32, 2}),
                         FormatName);

// The stand-in's mark does reach the output, at the low end of each sample: the comparisons
// above would also pass for a program that copied its input past the embedder.
TEST(E2eEmbedderMarkTest, OutputCarriesTheMarkInTheLowestBitOfEachSample) {
    WorkDir dir;
    const ByteVector zeros(512 * 3 * 2, 0);  // 24-bit stereo, one block
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", "stdout"}, StdinFormatArgs(2, 24, "be")));
    options.stdinChunks = StdinAtOnce(zeros);
    const EmbedderRun run = RunEmbedder(dir, options);
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.err;
    const ByteVector out = BytesOf(run.process.out);
    ASSERT_EQ(out.size(), zeros.size());
    bool marked = false;
    for (size_t i = 0; i < out.size(); ++i) {
        // Big-endian output: the low byte of each sample is its last.
        const bool lowByte = i % 3 == 2;
        EXPECT_EQ(out[i] & (lowByte ? 0xFE : 0xFF), 0) << "byte " << i;
        marked = marked || (lowByte && out[i] == 1);
    }
    EXPECT_TRUE(marked);
}

}  // namespace
