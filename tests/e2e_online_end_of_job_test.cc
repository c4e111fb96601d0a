// How pellion-embed-online ends a job: finalising with a report, sending a report on when
// finalising alone fails, and which failure the result line shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_online_support.h"

namespace {

// The output holds every block the embedder was given, whatever the end of the job.
void ExpectOutputHolds(const OnlineJob& job, const ByteVector& samples) {
    const WrittenWav output = ReadWrittenWav(job.output());
    EXPECT_TRUE(output.complete) << output.problem;
    EXPECT_EQ(WithoutMark(output.samples, 16), WithoutMark(samples, 16));
}

}  // namespace

TEST(E2eOnlineEndOfJobTest, FinalizedJobSucceedsWithoutSendingTheReport) {
    OnlineJob job;
    const ProcessResult result = job.Run();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(LastConsoleLine(result.out), "[SUCCESS]");
    const std::vector<std::string> trace = job.Trace();
    EXPECT_EQ(TraceLinesOf(trace, "FinalizeWithReport").size(), 1u);
    EXPECT_FALSE(TraceHas(trace, "SendJobReport"));
    ExpectOutputHolds(job, job.samples());
}

TEST(E2eOnlineEndOfJobTest, ReportThatIsSentOnSavesAFailedFinalization) {
    OnlineJob job;
    const ProcessResult result = job.Run({}, "FinalizeWithReport=31;report={\"job\":\"late\"}");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(LastConsoleLine(result.out), "[SUCCESS]");
    const std::vector<std::string> operations = TraceOperations(job.Trace());
    ASSERT_GE(operations.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(operations.end() - 3, operations.end()),
              (std::vector<std::string>{"FinalizeWithReport", "SendJobReport",
                                        "DestroyPellionAudioEmbedder"}));
    EXPECT_EQ(TraceLinesOf(job.Trace(), "SendJobReport"),
              std::vector<std::string>{"SendJobReport 14"});
    ExpectOutputHolds(job, job.samples());
}

TEST(E2eOnlineEndOfJobTest, RefusedReportFailsTheRunWithTheSendingCode) {
    OnlineJob job;
    const ProcessResult result =
        job.Run({}, "FinalizeWithReport=31;report={\"job\":1};SendJobReport=49");
    EXPECT_EQ(result.exitStatus, 31);
    EXPECT_EQ(LastConsoleLine(result.out),
              "[ERROR] code 31 (Unable to send final job reprort to online server). Error "
              "finalizing embedder.");
    EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos);
    ExpectOutputHolds(job, job.samples());
}

TEST(E2eOnlineEndOfJobTest, FailedFinalizationWithoutAReportFailsTheRun) {
    for (const std::string& report : std::vector<std::string>{"report=null", "report=", ""}) {
        SCOPED_TRACE(report);
        OnlineJob job;
        const ProcessResult result = job.Run({}, "FinalizeWithReport=114;" + report);
        EXPECT_EQ(result.exitStatus, 39);
        EXPECT_EQ(LastConsoleLine(result.out),
                  "[ERROR] code 39 (Error on metadata file). Error finalizing embedder.");
        EXPECT_FALSE(TraceHas(job.Trace(), "SendJobReport"));
        ExpectOutputHolds(job, job.samples());
    }
    // A code the library table does not know.
    OnlineJob job;
    const ProcessResult result = job.Run({}, "FinalizeWithReport=121;report=null");
    EXPECT_EQ(result.exitStatus, 51);
    EXPECT_EQ(LastConsoleLine(result.out),
              "[ERROR] code 51 (An undefined error occurred). Error finalizing embedder.");
}

// A refused block ends the feeding; the job is still ended, and the result is the block's
// failure unless ending the job fails too.
TEST(E2eOnlineEndOfJobTest, RefusedBlockKeepsItsErrorThroughASuccessfulEndOfJob) {
    const std::string refusal =
        "[ERROR] code 19 (A buffer whose size is not a factor of sample size has been "
        "provided). AddAudioBuffer failed";
    for (const std::string& end :
         std::vector<std::string>{"", ";FinalizeWithReport=31;report={\"saved\":true}"}) {
        SCOPED_TRACE(end);
        OnlineJob job;
        const ProcessResult result = job.Run({}, "AddAudioBuffer@2=27" + end);
        EXPECT_EQ(result.exitStatus, 19);
        EXPECT_EQ(LastConsoleLine(result.out), refusal);
        EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos);
        const std::vector<std::string> trace = job.Trace();
        EXPECT_EQ(TraceLinesOf(trace, "AddAudioBuffer").size(), 2u);
        EXPECT_TRUE(TraceHas(trace, "FinalizeWithReport"));
        // 16-bit stereo: the first block is 512 frames of 4 bytes.
        ExpectOutputHolds(job, ByteVector(job.samples().begin(), job.samples().begin() + 2048));
    }

    OnlineJob job;
    const ProcessResult result = job.Run({}, "AddAudioBuffer@2=27;FinalizeWithReport=31");
    EXPECT_EQ(result.exitStatus, 24);
    EXPECT_EQ(LastConsoleLine(result.out),
              "[ERROR] code 24 (Invalid string encoding. UTF8 required). Error finalizing "
              "embedder.");
}

// The time-code check passes the embedder's code on untranslated; "not allowed" counts as
// done.
TEST(E2eOnlineEndOfJobTest, TimecodeResynchronizationFailureEndsTheJob) {
    OnlineJob job;
    const ProcessResult refused = job.Run({}, "ResynchronizeTimecode=27");
    EXPECT_EQ(refused.exitStatus, 27);
    EXPECT_EQ(LastConsoleLine(refused.out),
              "[ERROR] code 27 (undocumented). ResynchronizeTimecode failed");
    const std::vector<std::string> operations = TraceOperations(job.Trace());
    ASSERT_GE(operations.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(operations.end() - 4, operations.end()),
              (std::vector<std::string>{"AddAudioBuffer", "ResynchronizeTimecode",
                                        "FinalizeWithReport", "DestroyPellionAudioEmbedder"}));

    const ProcessResult notAllowed = job.Run({}, "ResynchronizeTimecode=81");
    EXPECT_EQ(notAllowed.exitStatus, 0);
    EXPECT_EQ(LastConsoleLine(notAllowed.out), "[SUCCESS]");
    ExpectOutputHolds(job, job.samples());
}

TEST(E2eOnlineEndOfJobTest, FailureBeforeTheJobStartedDoesNotEndIt) {
    OnlineJob job;
    const ProcessResult result = job.Run({}, "Initialize=28");
    EXPECT_EQ(result.exitStatus, 20);
    EXPECT_EQ(LastConsoleLine(result.out),
              "[ERROR] code 20 ( Some settings are not provided for embedder initialization). "
              "Initialize failed");
    const std::vector<std::string> trace = job.Trace();
    EXPECT_FALSE(TraceHas(trace, "FinalizeWithReport"));
    EXPECT_TRUE(TraceHas(trace, "DestroyPellionAudioEmbedder"));
    EXPECT_FALSE(ReadWrittenWav(job.output()).valid) << "a job that never started left an output";
}
