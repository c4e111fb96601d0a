// The 64-bit stdio calls must be declared whatever feature macros the compiler sets itself.
#ifndef _LARGEFILE64_SOURCE
#define _LARGEFILE64_SOURCE 1
#endif

#include "wav_pcm_parser_impl.h"

#include "stop_signal.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr uint32_t FourCc(const char (&id)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(id[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(id[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(id[3])) << 24;
}

constexpr uint32_t kRiffId = FourCc("RIFF");
constexpr uint32_t kWaveId = FourCc("WAVE");
constexpr uint32_t kFmtId = FourCc("fmt ");
constexpr uint32_t kDataId = FourCc("data");
// Four NUL bytes where a chunk should start: a preallocated file that was never written, not a
// chunk. Taking it for one would walk through the zeros 8 bytes at a time.
constexpr uint32_t kNoChunkId = 0;

constexpr uint16_t kFormatTagPcm = 1;
constexpr uint16_t kFormatTagExtensible = 0xFFFE;
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Writers that could not know the final length of their data leave this in the size field.
constexpr uint32_t kUnknownDataSize = 0xFFFFFFFF;

constexpr char kDataSizeWarning[] = "Warning: error reading WXav chunk\n";

uint16_t LoadU16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t LoadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool ReadBytes(std::FILE* file, uint8_t* bytes, size_t count) {
    return std::fread(bytes, 1, count, file) == count;
}

// Chunk bodies of odd size are followed by one pad byte.
uint64_t PaddedSize(uint32_t size) {
    return static_cast<uint64_t>(size) + (size & 1u);
}

}  // namespace

int32_t CWavPcmParser::Open(const char* path, WavPcmFormat* format, bool sizeFromFile) {
    // Checked before anything is touched, so that a bad call leaves an open file usable.
    if (path == nullptr) return kWavParserNullPath;
    if (format == nullptr) return kWavParserGenericError;

    file_.reset();
    riffHeader_ = RiffHeader();
    chunkHeader_ = ChunkHeader();
    formatChunk_ = FormatChunk();
    skippedBytes_ = 0;
    mediaTime_ = 0;
    dataStart_ = 0;
    dataSize_ = 0;
    position_ = 0;
    fileEnd_ = 0;
    frameSize_ = 0;

    file_.reset(fopen64(path, "rb"));
    if (!file_) return kWavParserIoError;
    const int32_t result = ParseHeaders(format, sizeFromFile);
    if (result != kWavParserSuccess) file_.reset();
    return result;
}

int32_t CWavPcmParser::ParseHeaders(WavPcmFormat* format, bool sizeFromFile) {
    uint8_t raw[12];
    if (!ReadBytes(file_.get(), raw, sizeof raw)) return kWavParserIoError;
    riffHeader_ = {LoadU32(raw), LoadU32(raw + 4), LoadU32(raw + 8)};
    if (riffHeader_.id != kRiffId || riffHeader_.formType != kWaveId) {
        return kWavParserUnsupported;
    }

    int32_t result = FindFormatChunk();
    if (result == kWavParserSuccess) result = ReadFormatChunk();
    if (result == kWavParserSuccess && formatChunk_.formatTag == kFormatTagExtensible) {
        result = CheckSubFormat();
    }
    if (result != kWavParserSuccess) return result;

    // Whatever the body held beyond the fields read, the next chunk follows the whole body.
    const uint64_t formatEnd = 12 + skippedBytes_ + 8 + formatChunk_.size;
    if (formatEnd > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
        fseeko64(file_.get(), static_cast<int64_t>(formatEnd), SEEK_SET) != 0) {
        return kWavParserIoError;
    }
    result = FindDataChunk();
    if (result != kWavParserSuccess) return result;

    format->nbChannels = formatChunk_.channels;
    format->samplingRate = formatChunk_.sampleRate;
    format->bitsPerSample = formatChunk_.bitsPerSample;
    mediaTime_ = 0;
    frameSize_ = static_cast<uint32_t>(formatChunk_.channels) * (formatChunk_.bitsPerSample / 8u);
    return LocateData(sizeFromFile);
}

int32_t CWavPcmParser::FindFormatChunk() {
    for (;;) {
        uint8_t raw[8];
        if (!ReadBytes(file_.get(), raw, sizeof raw)) return kWavParserIoError;
        chunkHeader_ = {LoadU32(raw), LoadU32(raw + 4)};
        if (chunkHeader_.id == kFmtId) return kWavParserSuccess;
        if (chunkHeader_.id == kNoChunkId) return kWavParserUnsupported;
        // A file of many small chunks takes long to walk; a stop signal ends the walk.
        if (StopRequested()) return kWavParserIoError;
        const uint64_t body = PaddedSize(chunkHeader_.size);
        skippedBytes_ += 8 + body;
        // A move past the end of the file is caught by the short read of the next header.
        static_cast<void>(fseeko64(file_.get(), static_cast<int64_t>(body), SEEK_CUR));
    }
}

int32_t CWavPcmParser::ReadFormatChunk() {
    if (fseeko64(file_.get(), -8, SEEK_CUR) != 0) return kWavParserIoError;
    uint8_t raw[24];
    if (!ReadBytes(file_.get(), raw, sizeof raw)) return kWavParserIoError;
    formatChunk_.id = LoadU32(raw);
    formatChunk_.size = LoadU32(raw + 4);
    formatChunk_.formatTag = LoadU16(raw + 8);
    formatChunk_.channels = LoadU16(raw + 10);
    formatChunk_.sampleRate = LoadU32(raw + 12);
    formatChunk_.byteRate = LoadU32(raw + 16);
    formatChunk_.blockAlign = LoadU16(raw + 20);
    formatChunk_.bitsPerSample = LoadU16(raw + 22);
    if (formatChunk_.id != kFmtId) return kWavParserUnsupported;

    const bool plainPcm = formatChunk_.formatTag == kFormatTagPcm &&
                          (formatChunk_.size == 16 || formatChunk_.size == 18);
    const bool extensible =
        formatChunk_.formatTag == kFormatTagExtensible && formatChunk_.size == 40;
    if (!plainPcm && !extensible) return kWavParserUnsupported;

    switch (formatChunk_.bitsPerSample) {
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return kWavParserUnsupported;
    }
    // The output's header must be able to describe the same format: its block align field is
    // 16 bits wide and its byte rate 32 bits.
    const uint64_t blockAlign =
        static_cast<uint64_t>(formatChunk_.channels) * (formatChunk_.bitsPerSample / 8u);
    if (blockAlign > 0xFFFF || blockAlign * formatChunk_.sampleRate > 0xFFFFFFFFu) {
        return kWavParserUnsupported;
    }
    return kWavParserSuccess;
}

int32_t CWavPcmParser::CheckSubFormat() {
    // The sub-format lies 8 bytes past the fields read so far (after the extension size,
    // valid bits and channel mask).
    const int64_t position = ftello64(file_.get());
    if (position < 0) return kWavParserIoError;
    if (fseeko64(file_.get(), position + 8, SEEK_SET) != 0) return kWavParserIoError;
    uint8_t subFormat[16];
    if (!ReadBytes(file_.get(), subFormat, sizeof subFormat)) return kWavParserIoError;
    if (std::memcmp(subFormat, kPcmSubFormat, sizeof subFormat) != 0) {
        return kWavParserUnsupported;
    }
    if (fseeko64(file_.get(), position, SEEK_SET) != 0) return kWavParserIoError;
    return kWavParserSuccess;
}

int32_t CWavPcmParser::FindDataChunk() {
    for (;;) {
        uint8_t id[4];
        if (!ReadBytes(file_.get(), id, sizeof id)) return kWavParserIoError;
        if (LoadU32(id) == kDataId) return kWavParserSuccess;
        if (LoadU32(id) == kNoChunkId) return kWavParserUnsupported;
        if (StopRequested()) return kWavParserIoError;
        uint8_t size[4];
        if (!ReadBytes(file_.get(), size, sizeof size)) return kWavParserIoError;
        const uint64_t body = PaddedSize(LoadU32(size));
        if (fseeko64(file_.get(), static_cast<int64_t>(body), SEEK_CUR) != 0) {
            return kWavParserIoError;
        }
    }
}

int32_t CWavPcmParser::LocateData(bool sizeFromFile) {
    uint8_t raw[4];
    const bool haveSize = ReadBytes(file_.get(), raw, sizeof raw);
    // A file cut off inside the data chunk header still opens, with no samples.
    if (!haveSize) std::fputs(kDataSizeWarning, stderr);
    const uint32_t sizeField = haveSize ? LoadU32(raw) : 0;

    dataStart_ = ftello64(file_.get());
    if (dataStart_ < 0) return kWavParserIoError;
    position_ = dataStart_;
    if (fseeko64(file_.get(), 0, SEEK_END) != 0) return kWavParserIoError;
    fileEnd_ = ftello64(file_.get());
    if (fileEnd_ < dataStart_) return kWavParserIoError;

    if (!haveSize) {
        dataStart_ = fileEnd_;
        position_ = fileEnd_;
        dataSize_ = 0;
    } else if (sizeFromFile || sizeField == kUnknownDataSize) {
        dataSize_ = static_cast<uint64_t>(fileEnd_ - dataStart_);
    } else {
        dataSize_ = sizeField;
    }
    // Reading from anywhere else would pass the wrong bytes off as samples.
    if (fseeko64(file_.get(), dataStart_, SEEK_SET) != 0) return kWavParserIoError;
    return kWavParserSuccess;
}

int32_t CWavPcmParser::Close() {
    file_.reset();
    riffHeader_ = RiffHeader();
    return kWavParserSuccess;
}

int32_t CWavPcmParser::Read(uint8_t* buffer, int64_t* frames, uint64_t* mediaTime) {
    if (!file_) return kWavParserIoError;
    if (buffer == nullptr || frames == nullptr || mediaTime == nullptr) {
        return kWavParserGenericError;
    }
    // Without a byte per frame no frame can ever be delivered.
    if (frameSize_ == 0) return kWavParserEndOfData;

    int64_t delivered = *frames;
    // The request in bytes has to fit a signed 32-bit count.
    if (delivered < 0 || delivered > std::numeric_limits<int32_t>::max() / frameSize_) {
        return kWavParserGenericError;
    }
    uint64_t length = static_cast<uint64_t>(delivered) * frameSize_;
    const uint64_t position = static_cast<uint64_t>(position_);
    const uint64_t dataEnd = DataEnd();
    if (position + length > dataEnd) {
        // A trailing partial frame is still read into the buffer, but not counted.
        length = position < dataEnd ? dataEnd - position : 0;
        delivered = static_cast<int64_t>(length / frameSize_);
    }

    const size_t got = length > 0 ? std::fread(buffer, 1, length, file_.get()) : 0;
    position_ += static_cast<int64_t>(got);
    if (got == 0) {
        if (ftello64(file_.get()) == fileEnd_) return kWavParserEndOfData;
        if (static_cast<uint64_t>(position_) == dataEnd) return kWavParserEndOfData;
        // An empty request in the middle of the data is no failure.
        if (length > 0) return kWavParserIoError;
    } else if (got < length) {
        delivered = static_cast<int64_t>(got / frameSize_);
    }

    // Single precision and a truncation per block on purpose: the time stamps handed on
    // downstream follow exactly this arithmetic. A rate of 0 gives the block no duration.
    const uint64_t ticks = static_cast<uint64_t>(delivered) * 10000u;
    if (formatChunk_.sampleRate != 0) {
        const float framesPerMillisecond = static_cast<float>(formatChunk_.sampleRate) / 1000.0f;
        mediaTime_ += static_cast<uint64_t>(static_cast<float>(ticks) / framesPerMillisecond);
    }
    *frames = delivered;
    *mediaTime = mediaTime_;
    return kWavParserSuccess;
}

IWavPcmParser* CreateWavPcmParser() {
    return new (std::nothrow) CWavPcmParser();
}

int32_t DestroyWavPcmParser(IWavPcmParser*& parser) {
    delete dynamic_cast<CWavPcmParser*>(parser);
    parser = nullptr;
    return 0;
}
