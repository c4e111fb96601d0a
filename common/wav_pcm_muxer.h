// Writer of PCM WAV files: header at Open, samples appended by Write, sizes patched at Close.
#pragma once

#include <cstdint>

// Result codes of the writer.
constexpr int32_t kWavMuxerSuccess = 0;
constexpr int32_t kWavMuxerNotOpen = 1;       // null path, or Write without an open file
constexpr int32_t kWavMuxerGenericError = 2;  // a call the writer cannot take: negative
                                              // length, null data
constexpr int32_t kWavMuxerIoError = 3;

class IWavPcmMuxer {
public:
    virtual ~IWavPcmMuxer() {}
    virtual int32_t Open(const char* path, int16_t channels, uint32_t sampleRate,
                         int16_t bitsPerSample) = 0;
    virtual int32_t Close() = 0;
    virtual int32_t Write(const uint8_t* data, int32_t length) = 0;
};

// Null when memory cannot be had.
IWavPcmMuxer* CreateWavPcmMuxer();
// Deletes the writer if it is ours (which completes its file), sets the pointer to null,
// returns 0.
int32_t DestroyWavPcmMuxer(IWavPcmMuxer*& muxer);
