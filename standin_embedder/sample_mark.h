// The stand-in's mark. It is not a watermark: it only overwrites the least significant bit
// of every sample with one bit of the channel id, so that a test can see which channel was
// embedded and that nothing else of the audio changed.
//
// Sample n of the stream (counted across all blocks and all interleaved channels, from 0)
// gets bit (n mod 64) of the id, read as a 64-bit two's-complement value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace standin {

// Bytes one sample takes on the interface: 24-bit samples travel as 32-bit words.
std::size_t InterfaceSampleBytes(int32_t bitsPerSample);

class SampleMark {
public:
    SampleMark(int32_t bitsPerSample, int64_t channelId);

    // Marks `size` bytes of whole samples in place, continuing the pattern of earlier calls.
    void Apply(uint8_t* data, std::size_t size);

private:
    uint64_t pattern_;
    std::size_t sampleBytes_;
    // The byte holding the sample's least significant bit: a 24-bit sample sits in the upper
    // three bytes of its word, so its lowest bit is bit 0 of byte 1.
    std::size_t lowBitByte_;
    uint64_t sampleIndex_ = 0;
};

}  // namespace standin
