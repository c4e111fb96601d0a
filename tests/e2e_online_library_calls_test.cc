// What pellion-embed-online asks of the embedder library, as the stand-in's trace shows it:
// the online creation, the metadata before any setting, the blocks, and the end of the job.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e_online_support.h"

namespace {

const std::vector<std::string> kSetUpWithEveryOption = {
    "GetVersion",         "CreateOnlinePellionAudioEmbedder",
    "AddMetadata",        "SetThreadCPUAffinity",
    "SetThreadPriority",  "GetEmbedderParameters",
    "SetBitsPerSample",   "SetChannels",
    "GetChannelNameList", "EnableRecord",
    "Initialize"};

}  // namespace

TEST(E2eOnlineLibraryCallsTest, MetadataGoesToTheEmbedderRightAfterItsCreation) {
    OnlineJob job;
    WorkDir records;
    const ProcessResult result =
        job.Run({"--affinity=ffffffff", "--prio=0,0", "--record=" + records.dir()});
    ASSERT_EQ(result.exitStatus, 0) << result.out;

    const std::vector<std::string> trace = job.Trace();
    const std::vector<std::string> operations = TraceOperations(trace);
    ASSERT_GE(operations.size(), kSetUpWithEveryOption.size());
    EXPECT_EQ(std::vector<std::string>(operations.begin(),
                                       operations.begin() + kSetUpWithEveryOption.size()),
              kSetUpWithEveryOption);
    // The whole file, counted in bytes, and the affinity mask widened with its sign.
    EXPECT_EQ(TraceLinesOf(trace, "AddMetadata"),
              std::vector<std::string>{"AddMetadata " +
                                       std::to_string(std::string(kDefaultMetadata).size())});
    EXPECT_EQ(TraceLinesOf(trace, "SetThreadCPUAffinity"),
              std::vector<std::string>{"SetThreadCPUAffinity -1"});
    EXPECT_EQ(TraceLinesOf(trace, "SetBitsPerSample"),
              std::vector<std::string>{"SetBitsPerSample 16"});
    EXPECT_EQ(TraceLinesOf(trace, "SetChannels"), std::vector<std::string>{"SetChannels 2"});
}

TEST(E2eOnlineLibraryCallsTest, CreationCarriesTheAccountAndTheServiceEndpoint) {
    OnlineJob job;
    ASSERT_EQ(job.Run().exitStatus, 0);
    EXPECT_EQ(
        TraceLinesOf(job.Trace(), "CreateOnlinePellionAudioEmbedder"),
        std::vector<std::string>{std::string("CreateOnlinePellionAudioEmbedder ") + kOnlineLogin +
                                 " " + kOnlinePassword + " 443 embedder.pellion.example"});

    ASSERT_EQ(job.Run({"--port=8443", "--server=media.example.org"}).exitStatus, 0);
    const std::vector<std::string> trace = job.Trace();
    EXPECT_EQ(
        TraceLinesOf(trace, "CreateOnlinePellionAudioEmbedder"),
        std::vector<std::string>{std::string("CreateOnlinePellionAudioEmbedder ") + kOnlineLogin +
                                 " " + kOnlinePassword + " 8443 media.example.org"});
    EXPECT_FALSE(TraceHas(trace, "CreatePellionAudioEmbedder"));
}

// Blocks of 512 frames and a shorter last one; 24-bit samples cross as 32-bit words.
TEST(E2eOnlineLibraryCallsTest, BlocksAreWholeFramesThenTheJobEndsWithAReport) {
    struct Case {
        int channels;
        int bits;
        uint64_t bytesPerSampleAtTheLibrary;
    };
    for (const Case& c : {Case{2, 16, 2}, Case{2, 24, 4}, Case{1, 24, 4}, Case{1, 32, 4}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.bits) + " bits");
        OnlineJob job;
        job.SetInput(c.channels, c.bits, TestSamples(1300, c.channels, c.bits));
        const ProcessResult result = job.Run();
        ASSERT_EQ(result.exitStatus, 0) << result.out;

        const std::vector<std::string> trace = job.Trace();
        const std::vector<std::string> blocks = TraceLinesOf(trace, "AddAudioBuffer");
        const uint64_t frameBytes = c.channels * c.bytesPerSampleAtTheLibrary;
        ASSERT_EQ(blocks.size(), 3u);
        EXPECT_EQ(TraceFields(blocks[0]),
                  (std::vector<std::string>{std::to_string(512 * frameBytes), "106666"}));
        EXPECT_EQ(TraceFields(blocks[1]),
                  (std::vector<std::string>{std::to_string(512 * frameBytes), "213332"}));
        EXPECT_EQ(TraceFields(blocks[2]),
                  (std::vector<std::string>{std::to_string(276 * frameBytes), "270832"}));

        const std::vector<std::string> operations = TraceOperations(trace);
        ASSERT_GE(operations.size(), 2u);
        EXPECT_EQ(operations[operations.size() - 2], "FinalizeWithReport");
        EXPECT_EQ(operations.back(), "DestroyPellionAudioEmbedder");
        EXPECT_FALSE(TraceHas(trace, "Finalize"));
        EXPECT_FALSE(TraceHas(trace, "SetChannelName"));
        EXPECT_FALSE(TraceHas(trace, "SendJobReport"));
    }
}

TEST(E2eOnlineLibraryCallsTest, InputNotAt48000HzEndsBeforeTheOutputAndTheEmbedder) {
    OnlineJob job;
    job.SetInput(2, 16, TestSamples(4410, 2, 16), 44100);
    const ProcessResult result = job.Run();
    EXPECT_EQ(result.exitStatus, 18);
    const std::vector<std::string> lines = ConsoleLines(result.out);
    ASSERT_EQ(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[1],
              "Input file:" + job.input() + " frequency:44100 channels:2 bits per sample:16");
    EXPECT_EQ(lines[2],
              "[ERROR] code 18 (The audio sample rate shall be only 48000Hz). Only "
              "48000Hz WAV files can be used");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(access(job.output().c_str(), F_OK), -1);
    EXPECT_EQ(TraceOperations(job.Trace()), std::vector<std::string>{"GetVersion"});
}
