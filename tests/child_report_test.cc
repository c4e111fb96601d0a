// What the batch reads from a pellion-embed run, and the summary line it writes of a file.
#include "child_report.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "batch_report.h"

namespace {

TEST(ChildReportTest, TheResultLineAndTheCauseComeFromWhatTheRunPrinted) {
    struct Row {
        std::string out, err;
        int status;
        std::optional<std::string> resultLine, cause;
        int exitStatus;
    };
    const std::string error = "[ERROR] code 18 (The audio sample rate shall be only 48000Hz). x";
    const std::string cause = "pellion-embed: 'a.wav' is at 44100 Hz; resample it with: ...";
    const std::vector<Row> rows = {
        {"", "", W_EXITCODE(0, 0), "[SUCCESS]", std::nullopt, 0},  // silent success
        {"Warning: x\n" + error + "\n\n", "Note: y\n" + cause + "\n", W_EXITCODE(18, 0), error,
         cause, 18},
        {"", error + "\r\n", W_EXITCODE(18, 0), error, std::nullopt, 18},  // output on stdout
        {"[INTERRUPTED] Stopped by SIGTERM. ...\n", "", W_EXITCODE(143, 0),
         "[INTERRUPTED] Stopped by SIGTERM. ...", std::nullopt, 143},
        {"", "", SIGSEGV, std::nullopt, std::nullopt, 128 + SIGSEGV},  // a crash
        {"", "", W_EXITCODE(127, 0), std::nullopt, std::nullopt, 127}};
    for (const Row& row : rows) {
        const ChildReport report = ReadChildReport(row.out, row.err, row.status, 0.5);
        EXPECT_EQ(report.resultLine, row.resultLine) << row.out << row.err;
        EXPECT_EQ(report.cause, row.cause) << row.out << row.err;
        EXPECT_EQ(report.exitStatus, row.exitStatus) << row.out << row.err;
    }
}

TEST(ChildReportTest, ASummaryLineIsOneJsonObjectWithNullForWhatIsNotKnown) {
    FileResult result;
    result.item = {"in/a \"b\"\xe9.wav", "out/a\\b\n.wav", "a", "a"};  // \xe9: not UTF-8
    result.outcome = Outcome::kSkipped;
    result.wallSeconds = 0.0004;
    EXPECT_EQ(SummaryLine(result),
              R"({"input":"in/a \"b\"\ufffd.wav","output":"out/a\\b\n.wav","outcome":"skipped",)"
              R"("exitStatus":null,"resultLine":null,"cause":null,"audioSeconds":null,)"
              R"("wallSeconds":0.000,"cpuSeconds":null})");
}

}  // namespace
