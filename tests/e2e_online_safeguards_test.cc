// pellion-embed-online protecting the user's files and secrets: the password out of sight,
// no output over an input, lost output reported, and a stop request that ends the job.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e_embedder_support.h"
#include "e2e_online_support.h"

namespace {

constexpr size_t npos = std::string::npos;

std::vector<std::string> ReadProcessArguments(pid_t pid) {
    const ByteVector bytes = ReadWholeFile("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> arguments;
    std::string argument;
    for (const uint8_t byte : bytes) {
        if (byte == 0) {
            arguments.push_back(argument);
            argument.clear();
        } else {
            argument += static_cast<char>(byte);
        }
    }
    return arguments;
}

size_t CountOf(const std::vector<std::string>& trace, const std::string& operation) {
    return TraceLinesOf(trace, operation).size();
}

// Several seconds of audio: the run is stopped long before its end.
void UseLongInput(OnlineJob& job) {
    job.SetInput(1, 16, TestSamples(48000 * 4, 1, 16));
}

}  // namespace

TEST(E2eOnlineSafeguardsTest, PasswordIsNotReadableInTheProcessArguments) {
    OnlineJob job;
    UseLongInput(job);
    const std::vector<std::string> args = job.Args({"--server=media.example.org"});
    ChildProcess child(OnlineEmbedderToolPath(), job.Options(args));
    // Once audio flows, the command line has long been read.
    ASSERT_TRUE(job.WaitForTrace(child, [](const std::vector<std::string>& trace) {
        return TraceHas(trace, "AddAudioBuffer");
    }));
    const std::vector<std::string> seen = ReadProcessArguments(child.pid());
    child.Signal(SIGTERM);
    const ProcessResult result = child.Finish();
    EXPECT_EQ(result.exitStatus, 128 + SIGTERM) << result.out;

    ASSERT_EQ(seen.size(), args.size() + 1);
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind("--password=", 0) == 0) {
            EXPECT_EQ(seen[i + 1].rfind("--password=", 0), 0u) << seen[i + 1];
            EXPECT_EQ(seen[i + 1].find(kOnlinePassword), std::string::npos) << seen[i + 1];
        } else {
            EXPECT_EQ(seen[i + 1], args[i]);
        }
    }
}

// Read from a file (by a relative name, from the credentials directory of a service manager),
// the password stands in no command line, environment or output at any instant of the run.
TEST(E2eOnlineSafeguardsTest, PasswordFromAFileIsNeverVisible) {
    OnlineJob job;
    WriteWholeFile(job.path("pw"), std::string(kOnlinePassword) + "\r\nsecond line\n");
    for (const bool credentials : {false, true}) {
        SCOPED_TRACE(credentials ? "from the credentials directory, readable by all" : "own");
        chmod(job.path("pw").c_str(), credentials ? 0644 : 0600);
        std::vector<std::string> args = job.Args();
        args[3] = "--passwordFile=" + (credentials ? "pw" : job.path("pw"));
        ProcessOptions options = job.Options(args, "delay@Initialize=300");
        if (credentials) options.env["CREDENTIALS_DIRECTORY"] = job.path(".");
        job.ClearTrace();
        ChildProcess child(OnlineEmbedderToolPath(), options);
        int polls = 0;
        for (const std::string proc = "/proc/" + std::to_string(child.pid()) + "/";
             StillRunning(child.pid()); ++polls, child.PumpFor(std::chrono::milliseconds(5))) {
            for (const char* seen : {"cmdline", "environ"}) {
                EXPECT_EQ(TextOf(ReadWholeFile(proc + seen)).find(kOnlinePassword), npos) << seen;
            }
        }
        const ProcessResult result = child.Finish();
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_GT(polls, 10);
        EXPECT_EQ((result.out + result.err).find(kOnlinePassword), npos);
        EXPECT_EQ(result.err.rfind("Warning: the password file", 0) == 0, credentials);
        const std::vector<std::string> trace = job.Trace();
        EXPECT_EQ(TraceFields(TraceLinesOf(trace, "CreateOnlinePellionAudioEmbedder").at(0)).at(1),
                  kOnlinePassword);
    }
}

TEST(E2eOnlineSafeguardsTest, OutputNamingTheInputIsRefusedBeforeItIsCreated) {
    OnlineJob job;
    const ByteVector input = ReadWholeFile(job.input());
    ASSERT_EQ(symlink(job.input().c_str(), job.path("link.wav").c_str()), 0);
    ASSERT_EQ(link(job.input().c_str(), job.path("hard.wav").c_str()), 0);
    for (const std::string& output :
         {job.input(), job.path("./in.wav"), job.path("link.wav"), job.path("hard.wav")}) {
        SCOPED_TRACE(output);
        std::vector<std::string> args = job.Args();
        args[1] = output;
        const ProcessResult result = job.RunWith(args);
        EXPECT_EQ(result.exitStatus, 44);
        EXPECT_EQ(LastConsoleLine(result.out),
                  "[ERROR] code 44 (An I/O error occurred). Output file is "
                  "the input file");
        EXPECT_FALSE(TraceHas(job.Trace(), "CreateOnlinePellionAudioEmbedder"));
        EXPECT_EQ(ReadWholeFile(job.input()), input);
    }
    char target[256] = {};
    ASSERT_GT(readlink(job.path("link.wav").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), job.input());
}

// The output is created before the metadata is read: naming the metadata file as output
// would replace the job description with an empty WAV file.
TEST(E2eOnlineSafeguardsTest, OutputNamingTheMetadataFileIsRefusedBeforeItIsCreated) {
    OnlineJob job;
    const ByteVector metadata = ReadWholeFile(job.metadata());
    ASSERT_EQ(symlink(job.metadata().c_str(), job.path("job-link.json").c_str()), 0);
    for (const std::string& output : {job.metadata(), job.path("job-link.json")}) {
        SCOPED_TRACE(output);
        std::vector<std::string> args = job.Args();
        args[1] = output;
        const ProcessResult result = job.RunWith(args);
        EXPECT_EQ(result.exitStatus, 44);
        EXPECT_EQ(LastConsoleLine(result.out),
                  "[ERROR] code 44 (An I/O error occurred). Output file is "
                  "the metadata file");
        EXPECT_FALSE(TraceHas(job.Trace(), "CreateOnlinePellionAudioEmbedder"));
        EXPECT_EQ(ReadWholeFile(job.metadata()), metadata);
    }

    // A metadata file that does not exist yet would be the output created just before.
    std::vector<std::string> args = job.Args({"--metadataPath=" + job.path("new.json")});
    args[1] = job.path("new.json");
    const ProcessResult result = job.RunWith(args);
    EXPECT_EQ(result.exitStatus, 44);
    EXPECT_FALSE(TraceHas(job.Trace(), "AddMetadata"));
    EXPECT_EQ(access(job.path("new.json").c_str(), F_OK), -1);
}

TEST(E2eOnlineSafeguardsTest, OutputThatCannotBeWrittenFailsTheRun) {
    // A few frames stay in the writer's buffer until the file is closed; 0.1 s does not.
    for (const size_t frames : {size_t{40}, size_t{4800}}) {
        SCOPED_TRACE(frames);
        OnlineJob job;
        job.SetInput(2, 16, TestSamples(frames, 2, 16));
        std::vector<std::string> args = job.Args();
        args[1] = "/dev/full";
        const ProcessResult result = job.RunWith(args);
        EXPECT_EQ(result.exitStatus, 44);
        EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos);
        EXPECT_EQ(LastConsoleLine(result.out).rfind("[ERROR] code 44 (An I/O error occurred). ", 0),
                  0u)
            << result.out;
        EXPECT_TRUE(TraceHas(job.Trace(), "FinalizeWithReport"));
    }
}

TEST(E2eOnlineSafeguardsTest, TerminationSignalEndsTheJobInOrder) {
    OnlineJob job;
    UseLongInput(job);
    ChildProcess child(OnlineEmbedderToolPath(), job.Options(job.Args()));
    ASSERT_TRUE(job.WaitForTrace(child, [](const std::vector<std::string>& trace) {
        return CountOf(trace, "AddAudioBuffer") >= 3;
    }));
    child.Signal(SIGTERM);
    const ProcessResult result = child.Finish();
    EXPECT_EQ(result.exitStatus, 128 + SIGTERM);
    EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos) << result.out;

    const std::vector<std::string> trace = job.Trace();
    const std::vector<std::string> operations = TraceOperations(trace);
    ASSERT_GE(operations.size(), 2u);
    EXPECT_EQ(operations[operations.size() - 2], "FinalizeWithReport");
    EXPECT_EQ(operations.back(), "DestroyPellionAudioEmbedder");

    uint64_t bytesFed = 0;
    for (const std::string& line : TraceLinesOf(trace, "AddAudioBuffer")) {
        bytesFed += std::stoull(TraceFields(line).at(0));
    }
    EXPECT_LT(bytesFed, job.samples().size());
    EXPECT_EQ(LastConsoleLine(result.out) + "\n",
              InterruptedLine("SIGTERM", bytesFed / 2));  // mono
    const WrittenWav output = ReadWrittenWav(job.output());
    EXPECT_TRUE(output.complete) << output.problem;
    ASSERT_EQ(output.samples.size(), bytesFed);
    EXPECT_EQ(WithoutMark(output.samples, 16),
              WithoutMark(ByteVector(job.samples().begin(),
                                     job.samples().begin() + static_cast<ptrdiff_t>(bytesFed)),
                          16));
}
