// Audio through pellion-embed-online and the stand-in, whose mark sets the least significant
// bit of every sample: every other bit of the input must reach the output file.
#include <gtest/gtest.h>

#include <string>

#include "e2e_embedder_support.h"
#include "e2e_online_support.h"

TEST(E2eOnlineRoundTripTest, OutputIsTheInputButForTheMarkedBit) {
    for (const int bits : {16, 24, 32}) {
        for (const int channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " channels");
            OnlineJob job;
            // Not a whole number of blocks, so that the short last block is checked too.
            job.SetInput(channels, bits, TestSamples(1500, channels, bits, 0x5A));
            const ProcessResult result = job.Run();
            ASSERT_EQ(result.exitStatus, 0) << result.out;

            const WrittenWav output = ReadWrittenWav(job.output());
            ASSERT_TRUE(output.complete) << output.problem;
            EXPECT_EQ(output.channels, channels);
            EXPECT_EQ(output.rate, 48000u);
            EXPECT_EQ(output.bits, bits);
            ASSERT_EQ(output.samples.size(), job.samples().size());
            EXPECT_EQ(WithoutMark(output.samples, bits), WithoutMark(job.samples(), bits));
            // The mark did reach the file: samples with the bit cleared came out with it set.
            EXPECT_NE(output.samples, job.samples());
        }
    }
}

TEST(E2eOnlineRoundTripTest, DashReadsAWavStreamOnStandardInput) {
    OnlineJob job;
    std::vector<std::string> args = job.Args();
    args[0] = "-";
    ProcessOptions options = job.Options(args);
    options.stdinDevNull = false;
    options.stdinChunks = StdinAtOnce(ReadWholeFile(job.input()));
    ASSERT_EQ(RunProcess(OnlineEmbedderToolPath(), options).exitStatus, 0);
    EXPECT_EQ(WithoutMark(ReadWrittenWav(job.output()).samples, 16),
              WithoutMark(job.samples(), 16));
}
