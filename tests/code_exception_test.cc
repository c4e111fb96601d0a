#include "code_exception.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

using CorvidaUtils::CodeException;
using CorvidaUtils::ExceptionSdk;
using CorvidaUtils::ExceptionWavMuxer;
using CorvidaUtils::ExceptionWavParser;

TEST(CodeExceptionTest, LibraryTableMapsKnownCodesAndUndefinedOnes) {
    const ExceptionSdk sdk;
    const std::map<int32_t, int32_t> expected = {{0, 0},          {1, 1},
                                                 {8, 8},          {9, 51},
                                                 {10, 9},         {11, 1},
                                                 {12, 1},         {13, 10},
                                                 {14, 11},        {20, 12},
                                                 {22, 1},         {28, 20},
                                                 {29, 46},        {30, 21},
                                                 {31, 24},        {32, 51},
                                                 {49, 31},        {51, 33},
                                                 {60, 47},        {62, 49},
                                                 {63, 51},        {64, 34},
                                                 {80, 35},        {81, 36},
                                                 {82, 37},        {100, 44},
                                                 {110, 38},       {111, 1},
                                                 {117, 42},       {118, 51},
                                                 {120, 50},       {121, 51},
                                                 {-1, 51},        {-2147483647 - 1, 51},
                                                 {2147483647, 51}};
    for (const auto& [library, general] : expected) {
        EXPECT_EQ(sdk.ConvertCode(library), general) << "library code " << library;
    }
    // No library code may produce the codes that the tools and the reader raise themselves.
    for (int32_t library = 0; library <= 120; ++library) {
        const int32_t general = sdk.ConvertCode(library);
        EXPECT_NE(general, 18);
        EXPECT_NE(general, 43);
        EXPECT_NE(general, 45);
    }
}

TEST(CodeExceptionTest, ReaderAndWriterConversions) {
    const ExceptionWavParser parser;
    EXPECT_EQ(parser.ConvertCode(-4), 45);
    EXPECT_EQ(parser.ConvertCode(-3), 44);
    EXPECT_EQ(parser.ConvertCode(-2), 1);
    EXPECT_EQ(parser.ConvertCode(-1), 2);
    EXPECT_EQ(parser.ConvertCode(0), 0);
    EXPECT_EQ(parser.ConvertCode(1), 51);  // end of data is never checked
    EXPECT_EQ(parser.ConvertCode(-5), 51);

    const ExceptionWavMuxer muxer;
    EXPECT_EQ(muxer.ConvertCode(0), 0);
    EXPECT_EQ(muxer.ConvertCode(1), 2);
    EXPECT_EQ(muxer.ConvertCode(2), 1);
    EXPECT_EQ(muxer.ConvertCode(3), 44);
    EXPECT_EQ(muxer.ConvertCode(4), 44);  // the output is in use
    EXPECT_EQ(muxer.ConvertCode(5), 5);   // out of memory
    EXPECT_EQ(muxer.ConvertCode(6), 51);
    EXPECT_EQ(muxer.ConvertCode(-1), 51);

    const CodeException plain;
    EXPECT_EQ(plain.ConvertCode(81), 81);
    EXPECT_EQ(plain.ConvertCode(-7), -7);
}

TEST(CodeExceptionTest, FailingCheckThrowsExactlyCodeExceptionThatStdHandlersMiss) {
    ExceptionSdk sdk;
    bool caughtAsStd = false;
    bool caughtAsCode = false;
    try {
        try {
            sdk.CheckResult(81, "ResynchronizeTimecode failed");
        } catch (const std::exception&) {
            caughtAsStd = true;
        }
    } catch (const CodeException& e) {
        caughtAsCode = true;
        EXPECT_EQ(typeid(e), typeid(CodeException));
        EXPECT_EQ(e.code, 36);
        EXPECT_EQ(e.message, "ResynchronizeTimecode failed");
        EXPECT_STREQ(e.what(), "ResynchronizeTimecode failed");
    }
    EXPECT_FALSE(caughtAsStd);
    EXPECT_TRUE(caughtAsCode);
}

TEST(CodeExceptionTest, ChecksPassOnSuccessAndConvertOnFailure) {
    CodeException plain;
    EXPECT_NO_THROW(plain.Check(true, 43, "unused"));
    EXPECT_NO_THROW(plain.CheckResult(0, "unused"));
    try {
        plain.Check(false, 18, "Only 48000Hz WAV files can be used");
        FAIL();
    } catch (const CodeException& e) {
        EXPECT_EQ(e.code, 18);
        EXPECT_EQ(e.message, "Only 48000Hz WAV files can be used");
    }
    // The plain checker passes codes through unconverted.
    try {
        plain.CheckResult(99, "ResynchronizeTimecode failed");
        FAIL();
    } catch (const CodeException& e) {
        EXPECT_EQ(e.code, 99);
    }
    ExceptionWavParser parser;
    try {
        parser.CheckResult(-4, "Unable to open input file");
        FAIL();
    } catch (const CodeException& e) {
        EXPECT_EQ(e.code, 45);
    }
    ExceptionWavMuxer muxer;
    try {
        muxer.Check(false, 3, "Unable to initialize embedder listener");
        FAIL();
    } catch (const CodeException& e) {
        EXPECT_EQ(e.code, 44);
    }
}

TEST(CodeExceptionTest, ResultMessagesHaveExactlyTheTabledCodes) {
    std::map<int32_t, std::string> messages;
    CorvidaUtils::buildResultMessages(messages);
    EXPECT_EQ(messages.size(), 46u);
    for (int32_t code = 0; code <= 51; ++code) {
        const bool tabled = code <= 24 || code >= 31;
        EXPECT_EQ(messages.count(code), tabled ? 1u : 0u) << code;
    }
    EXPECT_EQ(messages[20], " Some settings are not provided for embedder initialization");
    EXPECT_EQ(messages[31], "Unable to send final job reprort to online server");
    EXPECT_EQ(messages[43], "Error on command line");
    EXPECT_EQ(messages[51], "An undefined error occurred");
}
