// The stand-in's audio path: every byte comes back, in order, with its timestamp, from a
// thread of the library's, and nothing is left behind when the job ends.
#include <gtest/gtest.h>

#include <numeric>
#include <thread>

#include "standin_test_support.h"

namespace {

constexpr auto kWait = std::chrono::seconds(10);

std::vector<uint8_t> Block(std::size_t size, int seed) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    return bytes;
}

// 16-bit samples: the mark lives in bit 0 of each sample's first byte.
std::vector<uint8_t> WithoutMark16(std::vector<uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 2) bytes[i] &= 0xFE;
    return bytes;
}

class StandinAudioTest : public ::testing::Test {
protected:
    ScopedHooks noHooks_{""};
    RecordingListener listener_;
};

TEST_F(StandinAudioTest, ReturnsEveryByteInOrderWithItsTimestampFromAnotherThread) {
    Embedder embedder = Embedder::Local(&listener_);
    ASSERT_EQ(embedder.result(), 0);
    ASSERT_EQ(embedder.Start(16, 2), 0);

    constexpr int kBlocks = 60;
    std::vector<uint64_t> stamps(kBlocks);
    std::iota(stamps.begin(), stamps.end(), 1000);
    std::vector<uint8_t> sent;
    std::vector<uint8_t> buffer;
    for (int i = 0; i < kBlocks; ++i) {
        buffer = Block(i % 3 == 0 ? 2048 : 512 + 4 * i, i);
        sent.insert(sent.end(), buffer.begin(), buffer.end());
        ASSERT_EQ(embedder->AddAudioBuffer(buffer.data(), buffer.size(), &stamps[i]), 0);
        // The caller's buffer is free again as soon as the call returns.
        std::fill(buffer.begin(), buffer.end(), 0x55);
    }
    ASSERT_EQ(embedder->Finalize(), 0);

    const auto blocks = listener_.Blocks();
    ASSERT_EQ(blocks.size(), static_cast<std::size_t>(kBlocks));
    for (int i = 0; i < kBlocks; ++i) {
        EXPECT_EQ(blocks[i].timestamp, &stamps[i]) << "block " << i;
        EXPECT_NE(blocks[i].thread, std::this_thread::get_id()) << "block " << i;
    }
    EXPECT_EQ(WithoutMark16(listener_.AllBytes()), WithoutMark16(sent));
}

TEST_F(StandinAudioTest, HoldsBackTwoBlocksUntilFinalize) {
    Embedder embedder = Embedder::Local(&listener_);
    ASSERT_EQ(embedder.Start(16, 1), 0);
    const auto data = Block(64, 1);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(embedder->AddAudioBuffer(data.data(), 64, nullptr), 0);

    ASSERT_TRUE(listener_.WaitForBlocks(3, kWait));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(listener_.BlockCount(), 3u) << "the two latest blocks stay held back";

    ASSERT_EQ(embedder->Finalize(), 0);
    EXPECT_EQ(listener_.BlockCount(), 5u) << "held-back blocks arrive before Finalize returns";
}

TEST_F(StandinAudioTest, DestroyWithoutFinalizeDeliversWhatIsHeld) {
    Embedder embedder = Embedder::Local(&listener_);
    ASSERT_EQ(embedder.Start(32, 2), 0);
    const auto data = Block(16, 2);
    uint64_t stamp = 7;
    ASSERT_EQ(embedder->AddAudioBuffer(data.data(), data.size(), nullptr), 0);
    ASSERT_EQ(embedder->AddAudioBuffer(data.data(), data.size(), &stamp), 0);

    EXPECT_EQ(embedder.Destroy(), 0);
    EXPECT_EQ(embedder.get(), nullptr);
    const auto blocks = listener_.Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].timestamp, &stamp);
}

TEST_F(StandinAudioTest, SlowListenerSlowsTheCallerDownButLosesNothing) {
    listener_.SetDeliveryDelay(std::chrono::milliseconds(2));
    Embedder embedder = Embedder::Local(&listener_);
    ASSERT_EQ(embedder.Start(16, 2), 0);
    std::vector<uint8_t> sent;
    for (int i = 0; i < 40; ++i) {
        const auto data = Block(2048, i);
        sent.insert(sent.end(), data.begin(), data.end());
        ASSERT_EQ(embedder->AddAudioBuffer(data.data(), data.size(), nullptr), 0);
    }
    ASSERT_EQ(embedder->Finalize(), 0);
    EXPECT_EQ(listener_.BlockCount(), 40u);
    EXPECT_EQ(WithoutMark16(listener_.AllBytes()), WithoutMark16(sent));
}

TEST_F(StandinAudioTest, EmptyBlockStillCarriesItsTimestamp) {
    Embedder embedder = Embedder::Local(&listener_);
    ASSERT_EQ(embedder.Start(24, 2), 0);
    uint64_t stamp = 42;
    ASSERT_EQ(embedder->AddAudioBuffer(nullptr, 0, &stamp), 0);
    ASSERT_EQ(embedder->Finalize(), 0);
    const auto blocks = listener_.Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(blocks[0].bytes.empty());
    EXPECT_EQ(blocks[0].timestamp, &stamp);
}

}  // namespace
