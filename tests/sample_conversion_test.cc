#include "sample_conversion.h"

#include <gtest/gtest.h>

#include <vector>

using Bytes = std::vector<uint8_t>;

TEST(SampleConversionTest, SwapReversesWholeSamplesOnly) {
    Bytes two = {1, 2, 3, 4, 5};
    SwapSampleBytes(two.data(), two.size(), 2);
    EXPECT_EQ(two, (Bytes{2, 1, 4, 3, 5}));
    Bytes three = {0x12, 0x34, 0x56, 7, 8};
    SwapSampleBytes(three.data(), three.size(), 3);
    EXPECT_EQ(three, (Bytes{0x56, 0x34, 0x12, 7, 8}));
    Bytes four = {1, 2, 3, 4, 5, 6, 7, 8};
    SwapSampleBytes(four.data(), four.size(), 4);
    EXPECT_EQ(four, (Bytes{4, 3, 2, 1, 8, 7, 6, 5}));
    Bytes one = {1, 2};
    SwapSampleBytes(one.data(), one.size(), 1);
    EXPECT_EQ(one, (Bytes{1, 2}));
}

TEST(SampleConversionTest, WidenAndPackAreInverse) {
    const Bytes packed = {0x12, 0x34, 0x56, 0xFE, 0xDC, 0xBA};
    Bytes wide(8);
    WidenSamples24To32(packed.data(), 2, wide.data());
    EXPECT_EQ(wide, (Bytes{0x00, 0x12, 0x34, 0x56, 0x00, 0xFE, 0xDC, 0xBA}));
    Bytes back(6);
    PackSamples32To24(wide.data(), 2, back.data());
    EXPECT_EQ(back, packed);
    // In place, front to back.
    wide[0] = 0x99;
    PackSamples32To24(wide.data(), 2, wide.data());
    EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 6), packed);
}
