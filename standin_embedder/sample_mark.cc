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
    uint8_t* lowByte = data + lowBitByte_;
    for (std::size_t i = 0; i < samples; ++i, lowByte += sampleBytes_) {
        const auto bit = static_cast<uint8_t>((pattern_ >> (sampleIndex_++ & 63)) & 1);
        *lowByte = static_cast<uint8_t>((*lowByte & 0xFE) | bit);
    }
}

}  // namespace standin
