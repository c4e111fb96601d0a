#include "result_report.h"

#include "code_exception.h"

#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <stdexcept>

using CorvidaUtils::Catching;
using CorvidaUtils::PrintResultLine;
using CorvidaUtils::Status;

namespace {

std::string Print(const Status& result, bool printSuccess = true) {
    std::ostringstream out;
    PrintResultLine(out, result, printSuccess, [](std::ostream& o) { o << "usage text\n"; });
    return out.str();
}

}  // namespace

TEST(ResultReportTest, ResultLineForms) {
    EXPECT_EQ(Print({0, ""}), "[SUCCESS]\n");
    EXPECT_EQ(Print({0, ""}, false), "");
    EXPECT_EQ(Print({45, "Unable to open input file"}),
              "[ERROR] code 45 (Unsupported WAV file opened). Unable to open input file\n\n");
    // Code 20's text starts with a blank.
    EXPECT_EQ(Print({20, "Initialize failed"}),
              "[ERROR] code 20 ( Some settings are not provided for embedder initialization). "
              "Initialize failed\n\n");
    EXPECT_EQ(Print({5, ""}),
              "[ERROR] code 5 (Memory Allocation error - System cannot allocate memory). \n\n");
    EXPECT_EQ(Print({99, "ResynchronizeTimecode failed"}),
              "[ERROR] code 99 (undocumented). ResynchronizeTimecode failed\n\n");
    EXPECT_EQ(Print({27, "x"}), "[ERROR] code 27 (undocumented). x\n\n");
    // Errors are printed even when success would not be.
    EXPECT_EQ(Print({43, "Too much arguments (2 expected)"}, false),
              "[ERROR] code 43 (Error on command line). Too much arguments (2 expected)\n\n\n"
              "usage text\n");
}

TEST(ResultReportTest, HandlersTurnExceptionsIntoCodes) {
    EXPECT_TRUE(Catching([] {}).ok());

    Status result =
        Catching([] { CorvidaUtils::ThrowIfFailed(Status::FromLibrary(14, "Initialize failed")); });
    EXPECT_EQ(result.code(), 11);
    EXPECT_EQ(result.context(), "Initialize failed");

    // Memory that cannot be had ends a run as every failed allocation does, never as an
    // internal error.
    result = Catching([] { throw std::bad_alloc(); });
    EXPECT_EQ(result.code(), 5);
    EXPECT_EQ(result.context(), std::bad_alloc().what());

    result = Catching([] { throw std::runtime_error("boom"); });
    EXPECT_EQ(result.code(), 1);
    EXPECT_EQ(result.context(), "boom");

    result = Catching([] { throw 42; });
    EXPECT_EQ(result.code(), 1);
    EXPECT_EQ(result.context(), "Unsupported exception");
}

TEST(ResultReportTest, ExitStatusIsTheCodeWhenAnExitStatusCanCarryIt) {
    using CorvidaUtils::ExitStatusFor;
    EXPECT_EQ(ExitStatusFor(0), 0);
    EXPECT_EQ(ExitStatusFor(99), 99);
    EXPECT_EQ(ExitStatusFor(255), 255);
    EXPECT_EQ(ExitStatusFor(256), 51);
    EXPECT_EQ(ExitStatusFor(300), 51);
    EXPECT_EQ(ExitStatusFor(-1), 51);
}
