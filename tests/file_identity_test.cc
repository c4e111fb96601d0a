#include "file_identity.h"

#include <fcntl.h>
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

TEST(SameFileTest, FileOnADescriptorIsFoundThroughAnyOfItsNames) {
    const std::string dir = testing::TempDir();
    const std::string file = dir + "open_file_" + std::to_string(getpid()) + ".raw";
    const std::string link = file + ".link";
    const std::string other = file + ".other";
    std::ofstream(file) << "x";
    std::ofstream(other) << "y";
    ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
    const int fd = open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(IsFileOnDescriptor(fd, file));
    EXPECT_TRUE(IsFileOnDescriptor(fd, link));
    EXPECT_FALSE(IsFileOnDescriptor(fd, other));
    EXPECT_FALSE(IsFileOnDescriptor(fd, file + ".missing"));
    EXPECT_FALSE(IsFileOnDescriptor(-1, file));
    close(fd);
    const int devNull = open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    EXPECT_FALSE(IsFileOnDescriptor(devNull, "/dev/null"));
    close(devNull);
    std::remove(link.c_str());
    std::remove(file.c_str());
    std::remove(other.c_str());
}
