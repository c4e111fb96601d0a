#include "timecode_keeper.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class FakeTimecode : public Corvida::IEmbedderTimecode {
public:
    int32_t ResynchronizeTimecode() override {
        ++calls;
        return answer;
    }
    int calls = 0;
    int32_t answer = 0;
};

constexpr int64_t kSecond = 10000000;
constexpr int64_t kBlock = 106666;
constexpr int64_t kStart = 17000000000000000LL;  // some day in 2023, in ticks

}  // namespace

TEST(TimecodeKeeperTest, SecondBlockAlwaysResynchronisesThenOnlyOnGapsOrDaily) {
    FakeTimecode embedder;
    TimecodeKeeper keeper;
    int64_t wall = kStart;
    auto block = [&](int64_t at) {
        keeper.BeforeBlock(at, embedder);
        keeper.AfterBlock(at);
    };
    block(wall);
    EXPECT_EQ(embedder.calls, 0);  // first block: nothing to compare with
    block(wall += kBlock);
    EXPECT_EQ(embedder.calls, 1);  // the last re-sync time starts at 0
    for (int i = 0; i < 100; ++i) block(wall += kBlock);
    EXPECT_EQ(embedder.calls, 1);
    block(wall += kSecond);  // exactly one second apart: not more than a second
    EXPECT_EQ(embedder.calls, 1);
    block(wall += kSecond + 1);  // a pause of the input
    EXPECT_EQ(embedder.calls, 2);
    block(wall -= 2 * kSecond);  // the system clock set back
    EXPECT_EQ(embedder.calls, 3);
    block(wall += kBlock);
    EXPECT_EQ(embedder.calls, 3);
    // A day later, blocks arriving steadily: one re-sync when the day has passed.
    const int64_t lastResync = wall - kBlock;
    wall = lastResync + TimecodeKeeper::kResyncPeriod - kBlock;
    keeper.AfterBlock(wall - kBlock);
    block(wall);
    EXPECT_EQ(embedder.calls, 3);
    block(wall += 2 * kBlock);
    EXPECT_EQ(embedder.calls, 4);
    block(wall += kBlock);
    EXPECT_EQ(embedder.calls, 4);
}

TEST(TimecodeKeeperTest, NotAllowedCountsAsDoneOtherAnswersRaisedUnconverted) {
    FakeTimecode embedder;
    TimecodeKeeper keeper;
    keeper.AfterBlock(kStart);
    embedder.answer = library_code::kResyncNotAllowed;
    EXPECT_TRUE(keeper.BeforeBlock(kStart + kBlock, embedder).ok());
    keeper.AfterBlock(kStart + kBlock);
    // Counted as done: no new attempt for the next steady block.
    keeper.BeforeBlock(kStart + 2 * kBlock, embedder);
    EXPECT_EQ(embedder.calls, 1);

    for (const int32_t answer : {6, 99, -1}) {
        embedder.answer = answer;
        const CorvidaUtils::Status failed = keeper.BeforeBlock(kStart + 100 * kSecond, embedder);
        EXPECT_EQ(failed.code(), answer);
        EXPECT_EQ(failed.context(), "ResynchronizeTimecode failed");
    }
}

TEST(TimecodeKeeperTest, WallTimeIsInTicksSinceTheEpoch) {
    const int64_t now = ReadWallTime(-5);
    EXPECT_GT(now, 17000000000000000LL);  // after 2023
    EXPECT_EQ(now % 10, 0);               // microseconds times ten
}
