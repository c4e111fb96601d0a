// What pellion-embed-online prints: it has no silent mode, so every line of the driver and
// of the listener reaches standard output.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_online_support.h"
#include "pellion_audio_embedder.h"

namespace {

std::string VersionLine() {
    return std::string("Pellion Embedding SDK version:") + Corvida::GetVersion() + "\n";
}

std::string InputLine(const OnlineJob& job) {
    return "Input file:" + job.input() + " frequency:48000 channels:2 bits per sample:16\n";
}

}  // namespace

// The library's thread prints the timestamps while the driver waits for the next block, so
// the whole console of a run comes out in one order.
TEST(E2eOnlineConsoleTest, SuccessfulRunPrintsEveryLine) {
    OnlineJob job;
    const ProcessResult result = job.Run();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, VersionLine() + InputLine(job) +
                              "Available channels (name - id):\n"
                              "\tSTANDIN-A - 1001\n"
                              "\tSTANDIN-B - 1002\n"
                              "[INFO] - Stand-in embedder initialized\n"
                              "Data timestamp: 0.011\r"
                              "Data timestamp: 0.021\r"
                              "Data timestamp: 0.032\r"
                              "Data timestamp: 0.043\r"
                              "Data timestamp: 0.053\r"
                              "Data timestamp: 0.064\r"
                              "Data timestamp: 0.075\r"
                              "Data timestamp: 0.085\r"
                              "Data timestamp: 0.096\r"
                              "Data timestamp: 0.100\r"
                              "[SUCCESS]\n");
    EXPECT_EQ(result.err, "");
}

TEST(E2eOnlineConsoleTest, ChannelListIsPrintedWithoutSelectingAChannel) {
    const std::string heading = "Available channels (name - id):\n";
    const std::string next = "[INFO] - Stand-in embedder initialized\n";
    for (const std::string& rule : std::vector<std::string>{"channels=", "channels=null"}) {
        SCOPED_TRACE(rule);
        OnlineJob job;
        const ProcessResult result = job.Run({}, rule);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_NE(result.out.find(InputLine(job) + heading + next), std::string::npos)
            << result.out;
        EXPECT_FALSE(TraceHas(job.Trace(), "SetChannelName"));
    }

    OnlineJob job;
    const ProcessResult result =
        job.Run({}, "channels=Radio One: Morning:-5|(null):7|Z:9223372036854775807");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.out.find(heading +
                              "\tRadio One: Morning - -5\n"
                              "\t(null) - 7\n"
                              "\tZ - 9223372036854775807\n" +
                              next),
              std::string::npos)
        << result.out;
    EXPECT_FALSE(TraceHas(job.Trace(), "SetChannelName"));
}

TEST(E2eOnlineConsoleTest, LibraryMessagesOfEveryLevelArePrinted) {
    OnlineJob job;
    const ProcessResult result =
        job.Run({},
                "message@AddMetadata=0:0:metadata accepted;message@SetChannels=1:7:two channels;"
                "message@GetChannelNameList=2:9:list is old;message@Initialize=5:3:odd level");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.out.find(InputLine(job) + "[INFO] - metadata accepted\n"
                                               "[WARNING] - two channels (Code: 7)\n"
                                               "[ERROR] - list is old (Code: 9)\n"
                                               "Available channels (name - id):\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\tSTANDIN-B - 1002\n"
                              "[UNDEFINED] - odd level (Code: 3)\n"
                              "[INFO] - Stand-in embedder initialized\n"),
              std::string::npos)
        << result.out;
}

TEST(E2eOnlineConsoleTest, OptionsOfTheOtherToolAreUnknownHere) {
    for (const std::string& option :
         std::vector<std::string>{"--silent", "--channelName=STANDIN-B"}) {
        SCOPED_TRACE(option);
        OnlineJob job;
        const ProcessResult result = job.Run({option});
        EXPECT_EQ(result.exitStatus, 43);
        const std::string name = option.substr(0, option.find('='));
        const std::string expectedStart =
            "[ERROR] code 43 (Error on command line). Unknown option " + name +
            "\n\n\nUsage: pellion-embed-online inputFile "
            "outputFile\n With:\n";
        EXPECT_EQ(result.out.substr(0, expectedStart.size()), expectedStart) << result.out;
        EXPECT_NE(result.out.find(" {--metadataPath=file_path}"), std::string::npos);
        EXPECT_EQ(result.out.find("version"), std::string::npos);
        EXPECT_TRUE(job.Trace().empty());
        EXPECT_EQ(access(job.output().c_str(), F_OK), -1);
    }
}
