#include "common_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line_test_support.h"

TEST(CommonSettingsTest, ProgramNameIsTheLastPathComponent) {
    const auto name = [](const char* argv0) {
        const char* argv[] = {argv0, nullptr};
        return programName(1, argv, "fallback");
    };
    EXPECT_EQ(name("pellion-embed"), "pellion-embed");
    EXPECT_EQ(name("/usr/local/bin/pellion-embed"), "pellion-embed");
    EXPECT_EQ(name("C:\\tools\\embed.exe"), "embed.exe");
    EXPECT_EQ(name("a\\b/c"), "c");
    EXPECT_EQ(name("a/b\\c"), "c");
    EXPECT_EQ(name("dir/"), "");
    EXPECT_EQ(name(""), "");

    // Started without any argument at all.
    const char* nullFirst[] = {nullptr};
    EXPECT_EQ(programName(0, nullFirst, "fallback"), "fallback");
    EXPECT_EQ(programName(1, nullFirst, "fallback"), "fallback");
    EXPECT_EQ(programName(0, nullptr, "fallback"), "fallback");
}

TEST(CommonSettingsTest, AffinityIsHexadecimalTruncatedTo32Bits) {
    const auto affinity = [](const std::string& value) {
        ParsedCommandLine line({"--affinity=" + value});
        CommonSettings settings;
        readAffinity(line.store, settings);
        return settings.affinityMask;
    };
    EXPECT_EQ(affinity("0x0F"), 15u);
    EXPECT_EQ(affinity("f"), 15u);
    EXPECT_EQ(affinity("F"), 15u);
    EXPECT_EQ(affinity(""), 0u);
    EXPECT_EQ(affinity(" \t1f"), 0x1Fu);  // blanks right after the "="
    EXPECT_EQ(affinity("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(affinity("123456789"), 0x23456789u);

    for (const char* bad : {"g", "0x", "1 2", "0xfz", "15h"}) {
        EXPECT_EQ(CommandLineError([&] { affinity(bad); }),
                  "Invalid parameter --affinity. Must be hexadecimal value.")
            << bad;
    }
}

TEST(CommonSettingsTest, PriorityIsTwoNumbersSeparatedByAComma) {
    const auto priority = [](const std::string& value) {
        ParsedCommandLine line({"--prio=" + value});
        CommonSettings settings;
        readPriority(line.store, settings);
        return std::make_pair(settings.threadPriority->policy, settings.threadPriority->priority);
    };
    EXPECT_EQ(priority("1,10"), std::make_pair(1, 10));
    EXPECT_EQ(priority("1, 10"), std::make_pair(1, 10));
    EXPECT_EQ(priority("1,10,20 rest"), std::make_pair(1, 10));
    EXPECT_EQ(priority("-2147483648,2147483647"), std::make_pair(INT32_MIN, INT32_MAX));

    // Within the range of int, the reading is that of sscanf.
    for (const char* text : {"1,10", " 1,\n2", "1 ,2", "1", "", ",", "+-1,2", "3,4x", "0x1,2",
                             "\v7,8", "9,\f-0", "1,+", "-0,-0"}) {
        int policy = 0;
        int prio = 0;
        const bool expected = std::sscanf(text, "%d,%d", &policy, &prio) == 2;
        int32_t first = 0;
        int32_t second = 0;
        EXPECT_EQ(convertIntPair(text, first, second), expected) << text;
        if (expected) {
            EXPECT_EQ(std::make_pair(first, second), std::make_pair(policy, prio)) << text;
        }
    }

    // Beyond that, a number that does not fit an int is refused rather than wrapped.
    for (const char* bad :
         {"1 ,10", "1", "", "2147483648,1", "1,-2147483649", "99999999999999999999,1"}) {
        EXPECT_EQ(CommandLineError([&] { priority(bad); }), "Invalid thread policy/priority)")
            << bad;
    }
}
