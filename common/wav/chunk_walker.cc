// The 64-bit stdio calls must be declared whatever feature macros the compiler sets itself.
#ifndef _LARGEFILE64_SOURCE
#define _LARGEFILE64_SOURCE 1
#endif

#include "chunk_walker.h"

#include <algorithm>
#include <cerrno>

#include "riff.h"
#include "wav_reader.h"

namespace {

bool ReadU32(std::FILE* file, uint32_t& value) {
    uint8_t bytes[4];
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) return false;
    value = LoadU32(bytes);
    return true;
}

}  // namespace

int32_t ChunkWalker::FindChunk(uint32_t wanted,
                               const std::function<uint64_t(uint32_t id, uint32_t size)>& visit) {
    for (;;) {
        uint32_t id = 0;
        if (!ReadU32(file_, id)) return kWavReaderIoError;
        if (id == wanted) return kWavReaderSuccess;
        if (id == 0) return kWavReaderUnsupported;
        if (stopRequested_ != nullptr && stopRequested_()) return kWavReaderIoError;
        uint32_t size = 0;
        if (!ReadU32(file_, size)) return kWavReaderIoError;
        const uint64_t read = visit(id, size);
        // Chunk bodies of odd size are followed by one pad byte. A move past the end of a file
        // is caught by the short read of the next header.
        const uint64_t body = static_cast<uint64_t>(size) + (size & 1u);
        if (!Skip(body - std::min(read, body))) return kWavReaderIoError;
    }
}

bool ChunkWalker::Skip(uint64_t count) {
    if (seekable_) {
        if (fseeko64(file_, static_cast<int64_t>(count), SEEK_CUR) == 0) return true;
        systemError_ = errno;
        return false;
    }
    uint8_t dropped[4096];
    while (count > 0) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(count, sizeof dropped));
        if (std::fread(dropped, 1, step, file_) != step) return false;
        count -= step;
    }
    return true;
}
