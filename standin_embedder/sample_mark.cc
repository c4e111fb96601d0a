#include "sample_mark.h"

namespace standin {

std::size_t InterfaceSampleBytes(int32_t bitsPerSample) {
    return bitsPerSample == 24 ? 4 : static_cast<std::size_t>(bitsPerSample) / 8;
}

SampleMark::SampleMark(int32_t bitsPerSample, int64_t channelId)
    : pattern_(static_cast<uint64_t>(channelId)),
      sampleBytes_(InterfaceSampleBytes(bitsPerSample)),
      lowBitByte_(bitsPerSample == 24 ? 1 : 0) {}

void SampleMark::Apply(uint8_t* data, std::size_t size) {
    const std::size_t samples = size / sampleBytes_;
    if (samples == 0) return;
    // Local copies: a store through a byte pointer may alias any member, so the members
    // themselves would be reloaded and stored again for every sample.
    const uint64_t pattern = pattern_;
    const std::size_t stride = sampleBytes_;
    uint64_t index = sampleIndex_;
    uint8_t* lowByte = data + lowBitByte_;
    for (std::size_t i = 0; i < samples; ++i, lowByte += stride) {
        const auto bit = static_cast<uint8_t>((pattern >> (index++ & 63)) & 1);
        *lowByte = static_cast<uint8_t>((*lowByte & 0xFE) | bit);
    }
    sampleIndex_ = index;
}

}  // namespace standin
