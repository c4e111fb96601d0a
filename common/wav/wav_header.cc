#include "wav_header.h"

#include <algorithm>

#include "riff.h"

namespace {

// The speaker mask of the first `channels` speakers, as an extensible format chunk names them.
uint32_t DefaultChannelMask(int16_t channels) {
    const uint16_t count = static_cast<uint16_t>(channels);
    return count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1u;
}

}  // namespace

// The block align field is 16 bits wide; the byte rate follows from what it holds.
uint16_t WavBlockAlign(int16_t channels, int16_t bitsPerSample) {
    return static_cast<uint16_t>(channels * (bitsPerSample / 8));
}

// Up to 16 bits the plain PCM format chunk, above it the extensible one; the extensible one
// also where the input names other speakers than the first `channels`, which is all a plain
// chunk can say. An input that carries chunks of its own (a broadcast or workstation file)
// keeps the form of its format chunk instead: a plain one stays plain at any width, an
// extensible one of more than two channels keeps its mask, so that readers still report the
// layout. Then the chunks the input had before its audio, and the data chunk header. An input
// with nothing else gets the bare 44- or 68-byte header. The sizes are true from the
// first byte: those of a file without samples. A stream (an output whose sizes cannot be
// rewritten later) says instead that its audio runs to the end, in the 32-bit form that every
// reader knows.
std::vector<uint8_t> BuildWavHeader(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample,
                                    const WavCarriedItems& carried, bool stream) {
    const uint32_t mask =
        carried.channelMask != 0 ? carried.channelMask : DefaultChannelMask(channels);
    const bool otherSpeakers = mask != DefaultChannelMask(channels);
    const bool keepsForm = !carried.chunksBeforeAudio.empty() || !carried.chunksAfterAudio.empty();
    bool extensible = bitsPerSample > 16 || otherSpeakers;
    if (keepsForm && carried.formatTag == kFormatTagPcm) extensible = false;
    if (keepsForm && carried.formatTag == kFormatTagExtensible && channels > 2) extensible = true;
    const bool rf64 = carried.rf64 && !stream;
    const uint16_t blockAlign = WavBlockAlign(channels, bitsPerSample);
    std::vector<uint8_t> header;
    if (rf64) {
        PutId(header, "RF64");
        PutU32(header, kUnknownSize);
        PutId(header, "WAVE");
        PutId(header, "ds64");
        PutU32(header, kDs64BodySize);
        PutU64(header, 0);  // RIFF size, set below
        PutU64(header, 0);  // data size
        PutU64(header, 0);  // frame count
        PutU32(header, 0);  // table length
    } else {
        PutId(header, "RIFF");
        PutU32(header, 0);  // set below
        PutId(header, "WAVE");
    }
    PutId(header, "fmt ");
    PutU32(header, extensible ? 40 : 16);
    PutU16(header, extensible ? kFormatTagExtensible : kFormatTagPcm);
    PutU16(header, static_cast<uint16_t>(channels));
    PutU32(header, sampleRate);
    PutU32(header, static_cast<uint32_t>(blockAlign) * sampleRate);
    PutU16(header, blockAlign);
    PutU16(header, static_cast<uint16_t>(bitsPerSample));
    if (extensible) {
        PutU16(header, 22);
        PutU16(header, static_cast<uint16_t>(bitsPerSample));
        PutU32(header, mask);
        header.insert(header.end(), kPcmSubFormat, kPcmSubFormat + sizeof kPcmSubFormat);
    }
    header.insert(header.end(), carried.chunksBeforeAudio.begin(), carried.chunksBeforeAudio.end());
    PutId(header, "data");
    PutU32(header, rf64 || stream ? kUnknownSize : 0);

    const uint64_t emptyRiffSize = header.size() - 8;
    std::vector<uint8_t> size;
    if (rf64) {
        PutU64(size, emptyRiffSize);
        std::copy(size.begin(), size.end(), header.begin() + kDs64BodyOffset);
    } else {
        PutU32(size, stream ? kUnknownSize : static_cast<uint32_t>(emptyRiffSize));
        std::copy(size.begin(), size.end(), header.begin() + 4);
    }
    return header;
}
