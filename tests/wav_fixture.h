// Byte-level builders of WAV files for tests, and temporary files that remove themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using ByteVector = std::vector<uint8_t>;

extern const ByteVector kPcmSubFormatGuid;

// Little-endian appenders.
void PutId(ByteVector& bytes, const char* id);  // four characters
void PutU16(ByteVector& bytes, uint16_t value);
void PutU32(ByteVector& bytes, uint32_t value);
void PutBytes(ByteVector& bytes, const ByteVector& more);
uint32_t LoadU32At(const ByteVector& bytes, size_t offset);

// A chunk with its header, body and pad byte (for an odd body).
ByteVector Chunk(const char* id, const ByteVector& body);
// A chunk header claiming `declaredSize`, followed by `body` as is, without pad.
ByteVector ChunkDeclaring(const char* id, uint32_t declaredSize, const ByteVector& body);

// Format chunk bodies. The plain one is zero-extended to `bodySize` (16, 18, 20...).
ByteVector PlainFormatBody(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t bodySize = 16,
                           uint16_t tag = 1);
ByteVector ExtensibleFormatBody(uint16_t channels, uint32_t rate, uint16_t bits,
                                const ByteVector& subFormat = kPcmSubFormatGuid);

// "RIFF", size, "WAVE", then the chunks.
ByteVector RiffFile(const std::vector<ByteVector>& chunks);
// A plain 16-byte format chunk followed by a data chunk.
ByteVector SimpleWav(uint16_t channels, uint32_t rate, uint16_t bits, const ByteVector& samples);

// `count` bytes that differ from their neighbours, so that misplaced bytes show.
ByteVector Pattern(size_t count, uint8_t seed = 1);

// A file in the temporary directory, removed when the object goes away.
class TempFile {
public:
    TempFile();
    explicit TempFile(const ByteVector& contents);
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();

    const char* path() const { return path_.c_str(); }
    void Write(const ByteVector& contents) const;
    ByteVector Read() const;

private:
    std::string path_;
};
