#include "password_scrubber.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(PasswordScrubberTest, OverwritesPasswordValuesOnly) {
    std::vector<std::string> strings = {
        "tool",       "in.wav",     "--password=s3cret", "  --password=a=b ", "--passwordx=keep",
        "--login=me", "--password", "-password=keep"};
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    ScrubPasswordArguments(static_cast<int>(strings.size()), argv.data());
    EXPECT_STREQ(argv[0], "tool");
    EXPECT_STREQ(argv[1], "in.wav");
    EXPECT_STREQ(argv[2], "--password=******");
    EXPECT_STREQ(argv[3], "  --password=****");
    EXPECT_STREQ(argv[4], "--passwordx=keep");
    EXPECT_STREQ(argv[5], "--login=me");
    EXPECT_STREQ(argv[6], "--password");
    EXPECT_STREQ(argv[7], "-password=keep");
    ScrubPasswordArguments(0, nullptr);
}
