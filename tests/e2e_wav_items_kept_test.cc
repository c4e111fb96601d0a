// WAV to WAV keeps what the input holds besides its audio, through both programs: the chunks
// before and after the audio byte for byte and in place, the speaker positions, the pad byte
// of an odd audio region, the RF64 form with its true sizes; an input of nothing but format
// and audio gives the bare header it always did.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "e2e_embedder_support.h"
#include "wav_carried_items.h"
#include "wav_layout.h"

namespace {

enum class Tool { kEmbed, kOnline };

void PrintTo(Tool tool, std::ostream* out) {
    *out << (tool == Tool::kEmbed ? "pellion-embed" : "pellion-embed-online");
}

std::string ToolName(const testing::TestParamInfo<Tool>& info) {
    return info.param == Tool::kEmbed ? "Embed" : "Online";
}

ByteVector Concat(const std::vector<ByteVector>& parts) {
    ByteVector all;
    for (const ByteVector& part : parts) PutBytes(all, part);
    return all;
}

ByteVector WholeChunks(const WavLayout& layout, size_t from, size_t count) {
    ByteVector all;
    for (size_t i = from; i < from + count && i < layout.chunks.size(); ++i) {
        PutBytes(all, layout.chunks[i].whole);
    }
    return all;
}

class E2eWavItemsKeptTest : public testing::TestWithParam<Tool> {
protected:
    // Runs the tool on `input` (written to in.wav) into out.wav; returns the output's bytes.
    ByteVector Run(const ByteVector& input) {
        WriteWholeFile(work_.path("in.wav"), input);
        ProcessOptions options;
        options.args = {work_.path("in.wav"), work_.path("out.wav")};
        if (GetParam() == Tool::kOnline) {
            WriteWholeFile(work_.path("job.json"), "{}");
            const std::vector<std::string> account = OnlineAccountArgs(work_.path("job.json"));
            options.args.insert(options.args.end(), account.begin(), account.end());
        }
        options.stdinDevNull = true;
        options.env = StandinEnv(work_.path("trace.txt"));
        options.timeout = std::chrono::milliseconds(30000);
        result_ = RunProcess(
            GetParam() == Tool::kEmbed ? EmbedderToolPath() : OnlineEmbedderToolPath(), options);
        EXPECT_EQ(result_.exitStatus, 0) << result_.out << result_.err;
        return ReadWholeFile(work_.path("out.wav"));
    }

    WorkDir work_;
    ProcessResult result_;
};

TEST_P(E2eWavItemsKeptTest, BroadcastChunksComeOutIdenticalAndInPlace) {
    const ByteVector samples = TestSamples(1300, 2, 16);
    const ByteVector bext = Chunk("bext", BextBody(1728000000, "A=PCM,F=48000,W=16,M=stereo\r\n"));
    const ByteVector info = ListChunk(
        "INFO", {Chunk("INAM", BytesOf("Evening news")), Chunk("ICMT", BytesOf("take 3"))});
    const ByteVector ixml = Chunk("iXML", BytesOf("<BWFXML><SCENE>12</SCENE></BWFXML>"));
    ByteVector cueBody;
    PutU32(cueBody, 1);  // one point, at frame 600
    for (const uint32_t field : {1u, 600u}) PutU32(cueBody, field);
    PutId(cueBody, "data");
    for (const uint32_t field : {0u, 0u, 600u}) PutU32(cueBody, field);
    const ByteVector cue = Chunk("cue ", cueBody);
    ByteVector label;
    PutU32(label, 1);
    PutBytes(label, BytesOf("Headline"));
    label.push_back(0);
    const ByteVector adtl = ListChunk("adtl", {Chunk("labl", label)});
    // The bext chunk stands before the format chunk, as many recorders write it; the filler
    // chunk describes the input file alone.
    const ByteVector output = Run(RiffFile({bext, Chunk("fmt ", PlainFormatBody(2, 48000, 16)),
                                            Chunk("JUNK", ByteVector(28, 0)), info,
                                            Chunk("data", samples), ixml, cue, adtl}));

    const WavLayout layout = ParseWavLayout(output);
    ASSERT_EQ(layout.problem, "");
    EXPECT_EQ(layout.form, "RIFF");
    EXPECT_EQ(layout.Ids(),
              (std::vector<std::string>{"fmt ", "bext", "LIST", "data", "iXML", "cue ", "LIST"}));
    EXPECT_EQ(layout.chunks.at(0).body, PlainFormatBody(2, 48000, 16));
    EXPECT_EQ(WholeChunks(layout, 1, 2), Concat({bext, info}));
    EXPECT_EQ(WholeChunks(layout, 4, 3), Concat({ixml, cue, adtl}));
    EXPECT_EQ(WithoutMark(layout.chunks.at(3).body, 16), WithoutMark(samples, 16));
    EXPECT_EQ(result_.err, "");
}

// A workstation's layout: its 40-byte plain format chunk read, and kept plain at 24 bits.
TEST_P(E2eWavItemsKeptTest, WorkstationFileKeepsItsPlainFormatAndItsChunks) {
    const ByteVector bext = Chunk("bext", BextBody(1, "A=PCM,F=48000,W=24\r\n"));
    const ByteVector minf = Chunk("minf", Pattern(16));
    const WavLayout layout = ParseWavLayout(Run(RiffFile(
        {Chunk("JUNK", ByteVector(92, 0)), bext, Chunk("fmt ", PlainFormatBody(2, 48000, 24, 40)),
         minf, Chunk("data", TestSamples(700, 2, 24))})));
    ASSERT_EQ(layout.problem, "");
    EXPECT_EQ(layout.Ids(), (std::vector<std::string>{"fmt ", "bext", "minf", "data"}));
    EXPECT_EQ(layout.chunks.at(0).body, PlainFormatBody(2, 48000, 24));
    EXPECT_EQ(WholeChunks(layout, 1, 2), Concat({bext, minf}));
}

TEST_P(E2eWavItemsKeptTest, SpeakerPositionsAreKept) {
    struct Case {
        uint16_t channels, bits;
        uint32_t mask;
    };
    for (const Case& c : {Case{8, 24, 0x63F}, Case{6, 16, 0x60F}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, mask " + std::to_string(c.mask));
        const ByteVector samples = TestSamples(700, c.channels, c.bits);
        const ByteVector output = Run(RiffFile(
            {Chunk("fmt ", ExtensibleFormatBodyWithMask(c.channels, 48000, c.bits, c.mask)),
             Chunk("data", samples)}));
        const WavLayout layout = ParseWavLayout(output);
        ASSERT_EQ(layout.problem, "");
        EXPECT_EQ(layout.Ids(), (std::vector<std::string>{"fmt ", "data"}));
        EXPECT_EQ(layout.chunks.at(0).body,
                  ExtensibleFormatBodyWithMask(c.channels, 48000, c.bits, c.mask));
        EXPECT_EQ(WithoutMark(layout.chunks.at(1).body, c.bits), WithoutMark(samples, c.bits));
    }
}

TEST_P(E2eWavItemsKeptTest, OddAudioRegionGetsItsPadByte) {
    const ByteVector samples = TestSamples(1301, 1, 24);  // 3903 bytes
    const ByteVector output = Run(SimpleWav(1, 48000, 24, samples));
    const WavLayout layout = ParseWavLayout(output);
    ASSERT_EQ(layout.problem, "");
    EXPECT_FALSE(layout.lastPadMissing);
    ASSERT_EQ(output.size(), 68u + 3903 + 1);
    EXPECT_EQ(LoadU32At(output, 4), 68u + 3903 + 1 - 8);
    EXPECT_EQ(LoadU32At(output, 64), 3903u);
    EXPECT_EQ(output.back(), 0);
    EXPECT_EQ(WithoutMark(layout.chunks.at(1).body, 24), WithoutMark(samples, 24));
}

TEST_P(E2eWavItemsKeptTest, Rf64InputGivesAnRf64OutputWithTrueSizes) {
    const ByteVector samples = TestSamples(1301, 1, 24);  // odd, with a pad byte
    const ByteVector info = ListChunk("INFO", {Chunk("ISFT", BytesOf("recorder 2.1"))});
    const ByteVector cue = Chunk("cue ", Pattern(28, 3));
    ByteVector data = ChunkDeclaring("data", 0xFFFFFFFF, samples);
    data.push_back(0);
    const ByteVector output =
        Run(Rf64File({Chunk("fmt ", ExtensibleFormatBody(1, 48000, 24)), info, data, cue},
                     samples.size(), 1301));

    const WavLayout layout = ParseWavLayout(output);
    ASSERT_EQ(layout.problem, "");
    EXPECT_FALSE(layout.lastPadMissing);
    EXPECT_EQ(layout.form, "RF64");
    EXPECT_EQ(layout.Ids(), (std::vector<std::string>{"ds64", "fmt ", "LIST", "data", "cue "}));
    EXPECT_EQ(layout.riffSize, output.size() - 8);
    EXPECT_EQ(layout.ds64DataSize, samples.size());
    EXPECT_EQ(layout.ds64Frames, 1301u);
    const WavChunkView& dataChunk = layout.chunks.at(3);
    EXPECT_EQ(LoadU32At(output, dataChunk.offset + 4), 0xFFFFFFFFu);
    EXPECT_EQ(WithoutMark(dataChunk.body, 24), WithoutMark(samples, 24));
    EXPECT_EQ(layout.chunks.at(2).whole, info);
    EXPECT_EQ(layout.chunks.at(4).whole, cue);
}

// Byte for byte the header of a file without these items: 44 bytes up to 16 bits, 68 above.
TEST_P(E2eWavItemsKeptTest, InputOfFormatAndAudioAloneGivesTheBareHeader) {
    struct Case {
        uint16_t channels, bits;
        bool extensibleInput;
    };
    // Masks that name the first speakers, or none, say nothing a bare header does not.
    for (const Case& c : {Case{2, 16, false}, Case{2, 16, true}, Case{2, 24, false}}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits" + (c.extensibleInput ? ", extensible" : ""));
        const ByteVector samples = TestSamples(1300, c.channels, c.bits);
        const ByteVector format = c.extensibleInput
                                      ? ExtensibleFormatBody(c.channels, 48000, c.bits)
                                      : PlainFormatBody(c.channels, 48000, c.bits);
        const ByteVector output = Run(RiffFile({Chunk("fmt ", format), Chunk("data", samples)}));

        ByteVector expected;
        const bool extensible = c.bits > 16;
        PutId(expected, "RIFF");
        PutU32(expected, static_cast<uint32_t>((extensible ? 60 : 36) + samples.size()));
        PutId(expected, "WAVE");
        PutBytes(expected,
                 Chunk("fmt ", extensible ? ExtensibleFormatBody(c.channels, 48000, c.bits)
                                          : PlainFormatBody(c.channels, 48000, c.bits)));
        PutId(expected, "data");
        PutU32(expected, static_cast<uint32_t>(samples.size()));
        ASSERT_EQ(output.size(), expected.size() + samples.size());
        EXPECT_EQ(ByteVector(output.begin(), output.begin() + expected.size()), expected);
    }
}

TEST_P(E2eWavItemsKeptTest, Md5AndChunksPastTheLimitAreLeftOutWithANote) {
    const ByteVector samples = TestSamples(700, 2, 16);
    const ByteVector large = Chunk("PICT", ByteVector(kCarriedChunkBytesLimit, 7));
    const ByteVector ixml = Chunk("iXML", BytesOf("<BWFXML/>"));
    const ByteVector output =
        Run(RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16)), large, Chunk("data", samples),
                      Chunk("MD5 ", Pattern(16)), ixml}));

    const WavLayout layout = ParseWavLayout(output);
    ASSERT_EQ(layout.problem, "");
    EXPECT_EQ(layout.Ids(), (std::vector<std::string>{"fmt ", "data", "iXML"}));
    EXPECT_EQ(layout.chunks.at(2).whole, ixml);
    EXPECT_EQ(WithoutMark(layout.chunks.at(1).body, 16), WithoutMark(samples, 16));
    EXPECT_EQ(result_.err,
              "Note: the input's 'PICT' chunk (8388608 bytes) is not copied: the chunks copied "
              "from an input may take 8 MiB in all\n"
              "Note: the input's MD5 chunk is not copied: it certifies the audio as it was "
              "before the watermark\n");
}

INSTANTIATE_TEST_SUITE_P(BothTools, E2eWavItemsKeptTest,
                         testing::Values(Tool::kEmbed, Tool::kOnline), ToolName);

// Raw output has no place for any of it, and nothing is said about it.
TEST(E2eWavItemsKeptRawTest, RawOutputCarriesOnlyTheAudio) {
    WorkDir work;
    const ByteVector samples = TestSamples(700, 2, 16);
    WriteWholeFile(
        work.path("in.wav"),
        RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16)), Chunk("bext", BextBody(1, "")),
                  Chunk("data", samples), Chunk("MD5 ", Pattern(16))}));
    ProcessOptions options;
    options.args = {work.path("in.wav"), "stdout"};
    options.stdinDevNull = true;
    options.env = StandinEnv(work.path("trace.txt"));
    const ProcessResult result = RunProcess(EmbedderToolPath(), options);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(WithoutMark(ByteVector(result.out.begin(), result.out.end()), 16),
              WithoutMark(samples, 16));
    EXPECT_EQ(result.err.find("Note:"), std::string::npos) << result.err;
}

}  // namespace
