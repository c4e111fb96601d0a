#include "status.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "code_exception.h"

using CorvidaUtils::CodeException;
using CorvidaUtils::Status;

TEST(StatusTest, LibraryTableMapsKnownCodesAndUndefinedOnes) {
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
        EXPECT_EQ(CorvidaUtils::LibraryCodeToGeneral(library), general)
            << "library code " << library;
    }
    // No library code may produce the codes that the tools and the reader raise themselves.
    for (int32_t library = 0; library <= 120; ++library) {
        const int32_t general = CorvidaUtils::LibraryCodeToGeneral(library);
        EXPECT_NE(general, 18);
        EXPECT_NE(general, 43);
        EXPECT_NE(general, 45);
    }
}

TEST(StatusTest, ReaderAndWriterConversions) {
    using CorvidaUtils::ReaderCodeToGeneral;
    EXPECT_EQ(ReaderCodeToGeneral(-4), 45);
    EXPECT_EQ(ReaderCodeToGeneral(-3), 44);
    EXPECT_EQ(ReaderCodeToGeneral(-2), 1);
    EXPECT_EQ(ReaderCodeToGeneral(-1), 2);
    EXPECT_EQ(ReaderCodeToGeneral(0), 0);
    EXPECT_EQ(ReaderCodeToGeneral(1), 51);  // end of data is never checked
    EXPECT_EQ(ReaderCodeToGeneral(-5), 51);

    using CorvidaUtils::WriterCodeToGeneral;
    EXPECT_EQ(WriterCodeToGeneral(0), 0);
    EXPECT_EQ(WriterCodeToGeneral(1), 2);
    EXPECT_EQ(WriterCodeToGeneral(2), 1);
    EXPECT_EQ(WriterCodeToGeneral(3), 44);
    EXPECT_EQ(WriterCodeToGeneral(4), 44);  // the output is in use
    EXPECT_EQ(WriterCodeToGeneral(5), 5);   // out of memory
    EXPECT_EQ(WriterCodeToGeneral(7), 51);
    EXPECT_EQ(WriterCodeToGeneral(-1), 51);

    const Status converted = Status::FromLibrary(81, "ResynchronizeTimecode failed");
    EXPECT_EQ(converted.code(), 36);
    EXPECT_EQ(Status::FromReader(-4, "x").code(), 45);
    EXPECT_EQ(Status::FromWriter(0, "x").code(), 0);
    EXPECT_TRUE(Status::FromWriter(0, "x").ok());
}

TEST(StatusTest, RaisedFailureIsExactlyCodeExceptionThatStdHandlersMiss) {
    bool caughtAsStd = false;
    bool caughtAsCode = false;
    try {
        try {
            CorvidaUtils::ThrowIfFailed(
                Status::FromLibrary(81, "ResynchronizeTimecode failed").WithCause("why"));
        } catch (const std::exception&) {
            caughtAsStd = true;
        }
    } catch (const CodeException& e) {
        caughtAsCode = true;
        EXPECT_EQ(e.status().code(), 36);
        EXPECT_EQ(e.status().context(), "ResynchronizeTimecode failed");
        EXPECT_EQ(e.status().cause(), "why");
        EXPECT_STREQ(e.what(), "ResynchronizeTimecode failed");
    }
    EXPECT_FALSE(caughtAsStd);
    EXPECT_TRUE(caughtAsCode);
    EXPECT_NO_THROW(CorvidaUtils::ThrowIfFailed(Status()));
}

TEST(StatusTest, ResultTextsHaveExactlyTheTabledCodes) {
    using CorvidaUtils::ResultText;
    for (int32_t code = -1; code <= 52; ++code) {
        const bool tabled = code >= 0 && (code <= 24 || (code >= 31 && code <= 51));
        EXPECT_EQ(ResultText(code) != nullptr, tabled) << code;
    }
    EXPECT_STREQ(ResultText(20), " Some settings are not provided for embedder initialization");
    EXPECT_STREQ(ResultText(31), "Unable to send final job reprort to online server");
    EXPECT_STREQ(ResultText(43), "Error on command line");
    EXPECT_STREQ(ResultText(51), "An undefined error occurred");
}
