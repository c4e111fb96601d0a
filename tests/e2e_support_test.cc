#include "e2e_support.h"

#include <gtest/gtest.h>

TEST(E2eSupportTest, WrittenWavChecksSizesAgainstTheBytesThatFollow) {
    WorkDir dir;
    const ByteVector samples = TestSamples(3, 2, 16);
    WriteWholeFile(dir.path("ok.wav"), SimpleWav(2, 48000, 16, samples));
    const WrittenWav ok = ReadWrittenWav(dir.path("ok.wav"));
    EXPECT_TRUE(ok.complete) << ok.problem;
    EXPECT_EQ(ok.samples, samples);
    EXPECT_EQ(ok.channels, 2);
    EXPECT_EQ(ok.bits, 16);

    ByteVector truncated = SimpleWav(2, 48000, 16, samples);
    truncated.pop_back();
    WriteWholeFile(dir.path("bad.wav"), truncated);
    const WrittenWav bad = ReadWrittenWav(dir.path("bad.wav"));
    EXPECT_TRUE(bad.valid);
    EXPECT_FALSE(bad.complete);

    EXPECT_FALSE(ReadWrittenWav(dir.path("missing.wav")).valid);
}

TEST(E2eSupportTest, WithoutMarkClearsOnlyTheLowestBitOfEachSample) {
    const ByteVector samples = {0xFF, 0xFF, 0x01, 0x80, 0x03, 0x00};
    EXPECT_EQ(WithoutMark(samples, 16), (ByteVector{0xFE, 0xFF, 0x00, 0x80, 0x02, 0x00}));
    EXPECT_EQ(WithoutMark(samples, 24), (ByteVector{0xFE, 0xFF, 0x01, 0x80, 0x03, 0x00}));
}
