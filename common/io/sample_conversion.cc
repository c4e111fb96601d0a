#include "sample_conversion.h"

#include <utility>

void SwapSampleBytes(uint8_t* data, uint64_t size, uint64_t bytesPerSample) {
    if (data == nullptr) return;
    switch (bytesPerSample) {
        case 2:
            for (uint64_t i = 0; i + 2 <= size; i += 2) std::swap(data[i], data[i + 1]);
            break;
        case 3:
            for (uint64_t i = 0; i + 3 <= size; i += 3) std::swap(data[i], data[i + 2]);
            break;
        case 4:
            for (uint64_t i = 0; i + 4 <= size; i += 4) {
                std::swap(data[i], data[i + 3]);
                std::swap(data[i + 1], data[i + 2]);
            }
            break;
        default:
            break;
    }
}

void WidenSamples24To32(const uint8_t* in, uint64_t sampleCount, uint8_t* out) {
    for (uint64_t i = 0; i < sampleCount; ++i, in += 3, out += 4) {
        out[0] = 0;
        out[1] = in[0];
        out[2] = in[1];
        out[3] = in[2];
    }
}

void PackSamples32To24(const uint8_t* in, uint64_t wordCount, uint8_t* out) {
    for (uint64_t i = 0; i < wordCount; ++i, in += 4, out += 3) {
        // Reading all three before writing keeps the in-place case correct.
        const uint8_t b1 = in[1], b2 = in[2], b3 = in[3];
        out[0] = b1;
        out[1] = b2;
        out[2] = b3;
    }
}
