#include "argument_store.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "command_line_test_support.h"

using Values = std::vector<std::string>;

TEST(ArgumentStoreTest, TrimsOnlyOuterAsciiWhitespace) {
    EXPECT_EQ(trimWhitespace(" \t\n\v\f\rab c\t \r\n"), "ab c");
    EXPECT_EQ(trimWhitespace(" \t\n\v\f\r"), "");
    EXPECT_EQ(trimWhitespace(""), "");
    EXPECT_EQ(trimWhitespace("x"), "x");
    // Bytes of 0x80 and above are not whitespace, whatever their meaning in some charset.
    EXPECT_EQ(trimWhitespace("\xa0x\x85"), "\xa0x\x85");
}

TEST(ArgumentStoreTest, SplitsPositionalArgumentsAndOptions) {
    ParsedCommandLine line({"  --silent \t", "", "   ", "in.wav", "--record=a=b", "--x= y", "-",
                            "=pos", "--", " -h=", "out.wav"});
    ArgumentStore& store = line.store;

    ASSERT_EQ(store.positionalArgumentCount(), 6u);
    EXPECT_EQ(store.positionalArgument(0), "");
    EXPECT_EQ(store.positionalArgument(1), "");
    EXPECT_EQ(store.positionalArgument(2), "in.wav");
    EXPECT_EQ(store.positionalArgument(3), "-");  // a standard stream, as audio tools name it
    EXPECT_EQ(store.positionalArgument(4), "=pos");
    EXPECT_EQ(store.positionalArgument(5), "out.wav");

    EXPECT_EQ(store.findOption("--silent"), Values{""});
    EXPECT_EQ(store.findOption("--record"), Values{"a=b"});
    EXPECT_EQ(store.findOption("--x"), Values{" y"});
    EXPECT_EQ(store.findOption("-"), std::nullopt);
    EXPECT_EQ(store.findOption("--"), Values{""});
    EXPECT_EQ(store.findOption("-h"), Values{""});
    EXPECT_EQ(store.findOption("--absent"), std::nullopt);
    EXPECT_EQ(store.firstPendingOption(), std::nullopt);
}

TEST(ArgumentStoreTest, EmptyArgumentVectors) {
    ArgumentStore none;
    none.parse(0, nullptr);
    EXPECT_EQ(none.positionalArgumentCount(), 0u);
    EXPECT_EQ(none.firstPendingOption(), std::nullopt);

    ParsedCommandLine programOnly({});
    EXPECT_EQ(programOnly.store.positionalArgumentCount(), 0u);
    EXPECT_EQ(programOnly.store.getArgc(), 1);

    // A vector shorter than its count ends at its null element.
    const char* shortVector[] = {"prog", "a", nullptr};
    ArgumentStore store;
    store.parse(5, shortVector);
    EXPECT_EQ(store.positionalArgumentCount(), 1u);
    EXPECT_EQ(store.getArgc(), 5);
    EXPECT_EQ(store.getArgv(), shortVector);
}

TEST(ArgumentStoreTest, QueriesClearPendingNamesInCommandLineOrder) {
    ParsedCommandLine line({"--b", "--a=1", "--Record=x", "--b=2", "--c"});
    ArgumentStore& store = line.store;

    EXPECT_EQ(store.firstPendingOption(), "--b");
    // Every occurrence leaves with one query; names are case-sensitive.
    EXPECT_TRUE(store.hasOption("--b"));
    EXPECT_EQ(store.firstPendingOption(), "--a");
    EXPECT_FALSE(store.hasOption("--record"));
    EXPECT_FALSE(store.hasOption("--A"));
    EXPECT_EQ(store.firstPendingOption(), "--a");
    std::string value;
    EXPECT_TRUE(store.getSingleValue("--a", value));
    EXPECT_EQ(value, "1");
    EXPECT_EQ(store.firstPendingOption(), "--Record");
    EXPECT_TRUE(store.findOption("--Record"));
    EXPECT_EQ(store.firstPendingOption(), "--c");
    EXPECT_TRUE(store.hasOption("--c"));
    EXPECT_EQ(store.firstPendingOption(), std::nullopt);
}

TEST(ArgumentStoreTest, SingleValueOfOptionsGivenOnceTwiceOrNever) {
    ParsedCommandLine line({"--record=one", "--flag", "--record=two", "--flag", "--empty="});
    ArgumentStore& store = line.store;

    std::string value = "unchanged";
    EXPECT_FALSE(store.getSingleValue("--absent", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_TRUE(store.getSingleValue("--empty", value));
    EXPECT_EQ(value, "");

    // Repetition is no error for a flag that is only tested for presence.
    EXPECT_TRUE(store.hasOption("--flag"));
    EXPECT_TRUE(store.hasOption("--record"));
    EXPECT_EQ(store.findOption("--record"), (Values{"one", "two"}));
    EXPECT_EQ(CommandLineError([&] { store.getSingleValue("--record", value); }),
              "Options --record used several times");
    EXPECT_EQ(CommandLineError([&] { store.getSingleValue("--flag", value); }),
              "Options --flag used several times");
}
