// How the end of the input is handled: every whole frame of a raw stream is embedded and no
// partial one passes downstream, and a run that read no audio at all says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_embedder_support.h"
#include "e2e_online_support.h"

namespace {

using std::chrono::milliseconds;

// `head -c` cuts a stream anywhere: inside a sample, or between the samples of a frame.
TEST(E2eStreamEndTest, RawInputEndingInsideAFrameKeepsEveryWholeFrame) {
    struct Row {
        int bits;
        size_t extraBytes;
        bool rawOutput;
    };
    for (const Row& row : {Row{16, 1, true}, Row{16, 2, false}, Row{24, 5, true}}) {
        const size_t frameBytes = 2 * static_cast<size_t>(row.bits / 8);
        SCOPED_TRACE(std::to_string(row.bits) + " bits, " + std::to_string(row.extraBytes) +
                     " bytes of a frame");
        WorkDir dir;
        const size_t frames = 25000;  // 48 whole blocks and a short one
        ByteVector sent = TestSamples(frames, 2, row.bits);
        sent.resize(sent.size() + row.extraBytes, 0x5A);
        const std::string output = row.rawOutput ? "stdout" : dir.path("out.wav");
        ProcessOptions options =
            EmbedderOptions(dir, Concat({"stdin", output}, StdinFormatArgs(2, row.bits, "le")));
        options.stdinDevNull = false;
        // In pieces, so that reads come back short in the middle of the stream as well.
        options.stdinChunks = {
            {milliseconds(0), TextOf(Prefix(sent, 10001))},
            {milliseconds(30), TextOf(ByteVector(sent.begin() + 10001, sent.end()))}};
        const ProcessResult result = RunProcess(EmbedderToolPath(), options);

        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_NE(result.err.find("Warning: the input ended inside a frame; its last " +
                                  std::to_string(row.extraBytes) + " bytes were dropped\n"),
                  std::string::npos)
            << result.err;
        const ByteVector whole = Prefix(sent, frames * frameBytes);
        const ByteVector written =
            row.rawOutput ? BytesOf(result.out) : ReadWrittenWav(output).samples;
        EXPECT_EQ(WithoutMark(written, row.bits), WithoutMark(whole, row.bits));
        if (!row.rawOutput) {
            EXPECT_TRUE(EndsWith(result.out, "[SUCCESS]\n")) << result.out;
        }
    }
}

TEST(E2eStreamEndTest, RunThatReadNoAudioWarns) {
    const std::string warning = "Warning: no audio was read from the input\n";
    {
        SCOPED_TRACE("an upstream that sent nothing");
        WorkDir dir;
        const ProcessResult result = RunProcess(
            EmbedderToolPath(),
            EmbedderOptions(dir, Concat({"stdin", "stdout"}, StdinFormatArgs(2, 16, "le"))));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, warning);
    }
    for (const bool online : {false, true}) {
        SCOPED_TRACE(online ? "an empty WAV file, online" : "an empty WAV file");
        OnlineJob job;
        job.SetInput(2, 16, {});
        std::vector<std::string> args = job.Args();
        if (!online) args.resize(2);
        const ProcessResult result =
            RunProcess(online ? OnlineEmbedderToolPath() : EmbedderToolPath(), job.Options(args));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(LastConsoleLine(result.out), "[SUCCESS]");
        EXPECT_EQ(result.err, warning);
        const WrittenWav wav = ReadWrittenWav(job.output());
        EXPECT_TRUE(wav.complete) << wav.problem;
        EXPECT_TRUE(wav.samples.empty());
    }
}

}  // namespace
