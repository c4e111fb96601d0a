// The stand-in's mark: bit 0 of every sample carries bit (n mod 64) of the selected
// channel's id, where n counts samples across the whole stream; no other bit changes.
#include <gtest/gtest.h>

#include <ostream>

#include "standin_test_support.h"

namespace {

struct MarkCase {
    int32_t bitsPerSample;
    std::size_t wordBytes;   // bytes per sample on the interface
    std::size_t lowBitByte;  // byte of the word holding the sample's lowest bit
    const char* channel;     // null: keep the default channel
    int64_t channelId;
};

void PrintTo(const MarkCase& format, std::ostream* out) {
    *out << format.bitsPerSample << "-bit, channel id " << format.channelId;
}

std::vector<uint8_t> Samples(const MarkCase& format, std::size_t count) {
    std::vector<uint8_t> bytes(count * format.wordBytes);
    uint32_t state = 12345;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245 + 12345;
        byte = static_cast<uint8_t>(state >> 16);
    }
    if (format.bitsPerSample == 24) {
        for (std::size_t i = 0; i < bytes.size(); i += 4) bytes[i] = 0;  // low byte of the word
    }
    return bytes;
}

class StandinMarkTest : public ::testing::TestWithParam<MarkCase> {
protected:
    ScopedHooks noHooks_{""};
};

TEST_P(StandinMarkTest, OnlyTheLowestSampleBitChangesAndCarriesTheChannelId) {
    const MarkCase format = GetParam();
    RecordingListener listener;
    Embedder embedder = Embedder::Local(&listener);
    ASSERT_EQ(embedder.SetFormat(format.bitsPerSample, 2), 0);
    if (format.channel != nullptr) {
        ASSERT_EQ(embedder->SetChannelName(format.channel), 0);
    }
    ASSERT_EQ(embedder->Initialize(), 0);

    // Uneven blocks, so the pattern has to carry on from one block into the next.
    const std::vector<uint8_t> input = Samples(format, 300);
    std::size_t offset = 0;
    for (const std::size_t samples : {6, 64, 130, 100}) {
        const std::size_t size = samples * format.wordBytes;
        ASSERT_EQ(embedder->AddAudioBuffer(input.data() + offset, size, nullptr), 0);
        offset += size;
    }
    ASSERT_EQ(embedder->Finalize(), 0);

    const std::vector<uint8_t> output = listener.AllBytes();
    ASSERT_EQ(output.size(), input.size());
    for (std::size_t n = 0; n < 300; ++n) {
        const uint64_t idBit = (static_cast<uint64_t>(format.channelId) >> (n % 64)) & 1;
        for (std::size_t b = 0; b < format.wordBytes; ++b) {
            const std::size_t at = n * format.wordBytes + b;
            const uint8_t expected = b == format.lowBitByte
                                         ? static_cast<uint8_t>((input[at] & 0xFE) | idBit)
                                         : input[at];
            ASSERT_EQ(output[at], expected) << "sample " << n << " byte " << b;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, StandinMarkTest,
                         ::testing::Values(MarkCase{16, 2, 0, nullptr, 1001},
                                           MarkCase{16, 2, 0, "STANDIN-B", 1002},
                                           // 24-bit words keep their low byte 0.
                                           MarkCase{24, 4, 1, nullptr, 1001},
                                           MarkCase{32, 4, 0, "STANDIN-B", 1002}),
                         [](const ::testing::TestParamInfo<MarkCase>& info) {
                             return "Bits" + std::to_string(info.param.bitsPerSample) + "Id" +
                                    std::to_string(info.param.channelId);
                         });

}  // namespace
