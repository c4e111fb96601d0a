#include "same_file.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

TEST(SameFileTest, SamePathLinksAndOtherSpellingsAreTheSameFile) {
    const std::string dir = testing::TempDir();
    const std::string file = dir + "same_file_" + std::to_string(getpid()) + ".wav";
    const std::string link = file + ".link";
    const std::string other = file + ".other";
    std::ofstream(file) << "x";
    std::ofstream(other) << "y";
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    EXPECT_TRUE(IsSameFile(file, file));
    EXPECT_TRUE(IsSameFile(file, link));
    EXPECT_TRUE(IsSameFile(file, dir + "/./" + file.substr(dir.size())));
    EXPECT_FALSE(IsSameFile(file, other));
    EXPECT_FALSE(IsSameFile(file, file + ".missing"));
    std::remove(link.c_str());
    std::remove(file.c_str());
    std::remove(other.c_str());
}
