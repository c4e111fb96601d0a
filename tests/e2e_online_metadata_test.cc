// The metadata file of pellion-embed-online: read whole and handed to the embedder as it
// is, before any setting; the embedder, not the tool, judges its content.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_online_support.h"

namespace {

ByteVector Bytes(const std::string& text) {
    return ByteVector(text.begin(), text.end());
}

}  // namespace

TEST(E2eOnlineMetadataTest, MissingFileEndsWithAnIoErrorAndLeavesNoOutput) {
    OnlineJob job;
    const ProcessResult result = job.Run({"--metadataPath=" + job.path("absent.json")});
    EXPECT_EQ(result.exitStatus, 44);
    const std::vector<std::string> lines = ConsoleLines(result.out);
    ASSERT_EQ(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[0].rfind("Pellion Embedding SDK version:", 0), 0u);
    EXPECT_EQ(lines[1],
              "Input file:" + job.input() + " frequency:48000 channels:2 bits per sample:16");
    EXPECT_EQ(lines[2], "[ERROR] code 44 (An I/O error occurred). Unable to open metadata file");
    EXPECT_EQ(lines[3], "");

    const std::vector<std::string> trace = job.Trace();
    EXPECT_TRUE(TraceHas(trace, "CreateOnlinePellionAudioEmbedder"));
    EXPECT_FALSE(TraceHas(trace, "AddMetadata"));
    EXPECT_FALSE(TraceHas(trace, "FinalizeWithReport"));
    // The output had been claimed before the metadata was looked at; the job never started,
    // so the file it created is gone again.
    EXPECT_FALSE(ReadWrittenWav(job.output()).valid);
}

// Nothing is trimmed or converted: a byte-order mark, a carriage return and a trailing line
// feed all count.
TEST(E2eOnlineMetadataTest, FileBytesReachTheEmbedderUnchanged) {
    const std::string text = "\xEF\xBB\xBF{\"title\":\"Caf\xC3\xA9\"}\r\n\n";
    OnlineJob job;
    job.SetMetadata(Bytes(text));
    const ProcessResult result = job.Run();
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_EQ(TraceLinesOf(job.Trace(), "AddMetadata"),
              std::vector<std::string>{"AddMetadata " + std::to_string(text.size())});
}

TEST(E2eOnlineMetadataTest, NulByteEndsTheTextTheEmbedderSees) {
    const std::string json = "{\"title\":\"x\"}";
    ByteVector bytes = Bytes(json);
    bytes.push_back(0);
    const ByteVector tail = Bytes("not json at all");
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    OnlineJob job;
    job.SetMetadata(bytes);
    const ProcessResult result = job.Run();
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_EQ(TraceLinesOf(job.Trace(), "AddMetadata"),
              std::vector<std::string>{"AddMetadata " + std::to_string(json.size())});
}

TEST(E2eOnlineMetadataTest, EmptyFileIsHandedOverAndTheEmbedderDecides) {
    OnlineJob job;
    job.SetMetadata({});
    const ProcessResult refused = job.Run();
    EXPECT_EQ(refused.exitStatus, 41);
    EXPECT_NE(refused.out.find("[ERROR] code 41 (Metadata(json) string is mandatory for online "
                               "SDK). AddMetadata failed\n\n"),
              std::string::npos)
        << refused.out;
    std::vector<std::string> trace = job.Trace();
    EXPECT_EQ(TraceLinesOf(trace, "AddMetadata"), std::vector<std::string>{"AddMetadata 0"});
    EXPECT_FALSE(TraceHas(trace, "GetEmbedderParameters"));
    EXPECT_FALSE(TraceHas(trace, "FinalizeWithReport"));

    // An embedder that takes the empty text lets the set-up go on (this one then refuses to
    // start a job without metadata).
    const ProcessResult accepted = job.Run({}, "AddMetadata=0");
    EXPECT_EQ(accepted.exitStatus, 41);
    EXPECT_NE(accepted.out.find("). Initialize failed\n"), std::string::npos) << accepted.out;
    trace = job.Trace();
    EXPECT_EQ(TraceLinesOf(trace, "AddMetadata"), std::vector<std::string>{"AddMetadata 0"});
    EXPECT_TRUE(TraceHas(trace, "GetEmbedderParameters"));
    EXPECT_FALSE(TraceHas(trace, "FinalizeWithReport"));
}

// A path that opens but cannot be read as a file must not reach the embedder as an empty
// job description.
TEST(E2eOnlineMetadataTest, DirectoryAsMetadataFileIsAnIoError) {
    OnlineJob job;
    WorkDir directory;
    const ProcessResult result = job.Run({"--metadataPath=" + directory.dir()});
    EXPECT_EQ(result.exitStatus, 44);
    EXPECT_NE(result.out.find("[ERROR] code 44 (An I/O error occurred). "), std::string::npos)
        << result.out;
    EXPECT_FALSE(TraceHas(job.Trace(), "AddMetadata"));
}
