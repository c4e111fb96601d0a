// The 64-bit stdio calls must be declared whatever feature macros the compiler sets itself.
#ifndef _LARGEFILE64_SOURCE
#define _LARGEFILE64_SOURCE 1
#endif

#include "wav_pcm_muxer_impl.h"

#include <cstdio>
#include <new>

namespace {

constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint16_t kFormatTagPcm = 1;
constexpr uint16_t kFormatTagExtensible = 0xFFFE;
// Both size fields carry this when the real sizes do not fit them: readers take the data
// as running to the end of the file instead of trusting a wrapped count.
constexpr uint32_t kOversizedField = 0xFFFFFFFF;
// Size fields written by Open, valid as long as no sample has been written.
constexpr uint32_t kPlaceholderRiffSize = 36;
constexpr uint32_t kPlaceholderDataSize = 0;

void StoreU16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

void StoreU32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool WriteU32(std::FILE* file, uint32_t value) {
    uint8_t bytes[4];
    StoreU32(bytes, value);
    return std::fwrite(bytes, sizeof bytes, 1, file) == 1;
}

uint32_t ChannelMask(int16_t channels) {
    const uint16_t count = static_cast<uint16_t>(channels);
    return count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1u;
}

}  // namespace

CWAVPCMMuxer::~CWAVPCMMuxer() {
    Close();
}

int32_t CWAVPCMMuxer::Open(const char* path, int16_t channels, uint32_t sampleRate,
                           int16_t bitsPerSample) {
    // Leaves an open file and its count alone, so that its sizes still come out true.
    if (path == nullptr) return kWavMuxerNotOpen;
    if (file_ && Close() != kWavMuxerSuccess) return kWavMuxerIoError;

    dataBytes_ = 0;
    headerBytes_ = 0;
    file_.reset(fopen64(path, "wb"));
    if (!file_) return kWavMuxerIoError;
    if (!WriteHeader(channels, sampleRate, bitsPerSample)) {
        file_.reset();
        return kWavMuxerIoError;
    }
    return kWavMuxerSuccess;
}

bool CWAVPCMMuxer::WriteHeader(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample) {
    const bool extensible = bitsPerSample > 16;
    // The block align field is 16 bits wide; the byte rate follows from what it holds.
    const uint16_t blockAlign = static_cast<uint16_t>(channels * (bitsPerSample / 8));
    const uint32_t byteRate = static_cast<uint32_t>(blockAlign) * sampleRate;

    bool ok = WriteHeaderField("RIFF", 4) && WriteHeaderU32(kPlaceholderRiffSize) &&
              WriteHeaderField("WAVE", 4) && WriteHeaderField("fmt ", 4) &&
              WriteHeaderU32(extensible ? 40 : 16) &&
              WriteHeaderU16(extensible ? kFormatTagExtensible : kFormatTagPcm) &&
              WriteHeaderU16(static_cast<uint16_t>(channels)) && WriteHeaderU32(sampleRate) &&
              WriteHeaderU32(byteRate) && WriteHeaderU16(blockAlign) &&
              WriteHeaderU16(static_cast<uint16_t>(bitsPerSample));
    if (ok && extensible) {
        ok = WriteHeaderU16(22) && WriteHeaderU16(static_cast<uint16_t>(bitsPerSample)) &&
             WriteHeaderU32(ChannelMask(channels)) &&
             WriteHeaderField(kPcmSubFormat, sizeof kPcmSubFormat);
    }
    return ok && WriteHeaderField("data", 4) && WriteHeaderU32(kPlaceholderDataSize);
}

bool CWAVPCMMuxer::WriteHeaderField(const void* bytes, uint32_t size) {
    if (std::fwrite(bytes, size, 1, file_.get()) != 1) return false;
    headerBytes_ += size;
    return true;
}

bool CWAVPCMMuxer::WriteHeaderU16(uint16_t value) {
    uint8_t bytes[2];
    StoreU16(bytes, value);
    return WriteHeaderField(bytes, sizeof bytes);
}

bool CWAVPCMMuxer::WriteHeaderU32(uint32_t value) {
    uint8_t bytes[4];
    StoreU32(bytes, value);
    return WriteHeaderField(bytes, sizeof bytes);
}

int32_t CWAVPCMMuxer::Write(const uint8_t* data, int32_t length) {
    if (!file_) return kWavMuxerNotOpen;
    if (length < 0 || (data == nullptr && length > 0)) return kWavMuxerGenericError;
    if (length == 0) return kWavMuxerSuccess;
    const size_t size = static_cast<size_t>(length);
    if (std::fwrite(data, 1, size, file_.get()) != size) {
        file_.reset();
        return kWavMuxerIoError;
    }
    dataBytes_ += size;
    return kWavMuxerSuccess;
}

int32_t CWAVPCMMuxer::Close() {
    if (file_) {
        const uint64_t riffBytes = headerBytes_ + dataBytes_ - 8;
        const bool fits = riffBytes <= 0xFFFFFFFFu;
        const uint32_t riffSize = fits ? static_cast<uint32_t>(riffBytes) : kOversizedField;
        const uint32_t dataSize = fits ? static_cast<uint32_t>(dataBytes_) : kOversizedField;

        bool ok = fseeko64(file_.get(), 4, SEEK_SET) == 0 && WriteU32(file_.get(), riffSize) &&
                  fseeko64(file_.get(), headerBytes_ - 4, SEEK_SET) == 0 &&
                  WriteU32(file_.get(), dataSize);
        // Closing flushes the last samples and the sizes: a failure there loses them too.
        ok = CloseStdioFile(file_) && ok;
        if (!ok) return kWavMuxerIoError;
    }
    dataBytes_ = 0;
    return kWavMuxerSuccess;
}

IWavPcmMuxer* CreateWavPcmMuxer() {
    return new (std::nothrow) CWAVPCMMuxer();
}

int32_t DestroyWavPcmMuxer(IWavPcmMuxer*& muxer) {
    delete dynamic_cast<CWAVPCMMuxer*>(muxer);
    muxer = nullptr;
    return 0;
}
