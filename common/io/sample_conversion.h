// In-place and copying conversions of interleaved PCM samples between the forms used on
// files and raw streams and the form that crosses the embedder library's interface.
#pragma once

#include <cstdint>

// Reverses the bytes of every whole sample in place: 2-byte samples swap their bytes, 3-byte
// samples swap the first and third, 4-byte samples reverse all four. Other widths, and the
// bytes of a trailing partial sample, are left alone.
void SwapSampleBytes(uint8_t* data, uint64_t size, uint64_t bytesPerSample);

// 24-bit samples b0 b1 b2 -> 32-bit words 0 b0 b1 b2 (the sample in the upper three bytes of a
// little-endian word). Converts `sampleCount` samples; `out` holds sampleCount * 4 bytes.
void WidenSamples24To32(const uint8_t* in, uint64_t sampleCount, uint8_t* out);

// The reverse: each 32-bit word w0 w1 w2 w3 -> w1 w2 w3. `out` holds wordCount * 3 bytes and
// may be `in` itself (the packing runs front to back).
void PackSamples32To24(const uint8_t* in, uint64_t wordCount, uint8_t* out);
