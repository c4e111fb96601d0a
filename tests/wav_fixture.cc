#include "wav_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

const ByteVector kPcmSubFormatGuid = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                      0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void PutId(ByteVector& bytes, const char* id) {
    bytes.insert(bytes.end(), id, id + 4);
}

void PutU16(ByteVector& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(ByteVector& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutBytes(ByteVector& bytes, const ByteVector& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
}

uint32_t LoadU32At(const ByteVector& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | bytes.at(offset + i);
    return value;
}

ByteVector Chunk(const char* id, const ByteVector& body) {
    ByteVector chunk = ChunkDeclaring(id, static_cast<uint32_t>(body.size()), body);
    if (body.size() % 2 != 0) chunk.push_back(0);
    return chunk;
}

ByteVector ChunkDeclaring(const char* id, uint32_t declaredSize, const ByteVector& body) {
    ByteVector chunk;
    PutId(chunk, id);
    PutU32(chunk, declaredSize);
    PutBytes(chunk, body);
    return chunk;
}

ByteVector PlainFormatBody(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t bodySize,
                           uint16_t tag) {
    const uint16_t blockAlign = static_cast<uint16_t>(channels * (bits / 8));
    ByteVector body;
    PutU16(body, tag);
    PutU16(body, channels);
    PutU32(body, rate);
    PutU32(body, rate * blockAlign);
    PutU16(body, blockAlign);
    PutU16(body, bits);
    body.resize(bodySize, 0);
    return body;
}

ByteVector ExtensibleFormatBody(uint16_t channels, uint32_t rate, uint16_t bits,
                                const ByteVector& subFormat) {
    ByteVector body = PlainFormatBody(channels, rate, bits, 16, 0xFFFE);
    PutU16(body, 22);
    PutU16(body, bits);
    PutU32(body, (1u << channels) - 1);
    PutBytes(body, subFormat);
    return body;
}

ByteVector RiffFile(const std::vector<ByteVector>& chunks) {
    ByteVector file;
    PutId(file, "RIFF");
    PutU32(file, 0);
    PutId(file, "WAVE");
    for (const ByteVector& chunk : chunks) PutBytes(file, chunk);
    const uint32_t riffSize = static_cast<uint32_t>(file.size() - 8);
    for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<uint8_t>(riffSize >> (8 * i));
    return file;
}

ByteVector SimpleWav(uint16_t channels, uint32_t rate, uint16_t bits, const ByteVector& samples) {
    return RiffFile({Chunk("fmt ", PlainFormatBody(channels, rate, bits)), Chunk("data", samples)});
}

ByteVector Pattern(size_t count, uint8_t seed) {
    ByteVector bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
    return bytes;
}

TempFile::TempFile() {
    const char* dir = getenv("TMPDIR");
    std::string pattern =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/pellion_wav_test_XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create a temporary file");
    close(fd);
    path_ = pattern;
}

TempFile::TempFile(const ByteVector& contents) : TempFile() {
    Write(contents);
}

TempFile::~TempFile() {
    unlink(path_.c_str());
}

void TempFile::Write(const ByteVector& contents) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()),
              static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + path_);
}

ByteVector TempFile::Read() const {
    std::ifstream in(path_, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
