// The file-backed WAV writer behind IWavPcmMuxer.
#pragma once

#include <cstdint>

#include "stdio_file.h"
#include "wav_pcm_muxer.h"

class CWAVPCMMuxer : public IWavPcmMuxer {
public:
    CWAVPCMMuxer() = default;
    CWAVPCMMuxer(const CWAVPCMMuxer&) = delete;
    CWAVPCMMuxer& operator=(const CWAVPCMMuxer&) = delete;
    // Completes the file as Close does.
    ~CWAVPCMMuxer() override;

    int32_t Open(const char* path, int16_t channels, uint32_t sampleRate,
                 int16_t bitsPerSample) override;
    int32_t Close() override;
    int32_t Write(const uint8_t* data, int32_t length) override;

    // Lets tests reach the sizes that no longer fit the header without writing gigabytes.
    void SetDataBytesForTesting(uint64_t bytes) { dataBytes_ = bytes; }

private:
    bool WriteHeader(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample);
    bool WriteHeaderField(const void* bytes, uint32_t size);
    bool WriteHeaderU16(uint16_t value);
    bool WriteHeaderU32(uint32_t value);

    StdioFile file_;
    // 64 bits, so that a file past 4 GiB is recognised instead of wrapping the count.
    uint64_t dataBytes_ = 0;
    uint32_t headerBytes_ = 0;
};
