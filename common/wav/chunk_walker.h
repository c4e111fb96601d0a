// Walks the chunks of a RIFF file up to the one wanted, one header at a time, with one policy
// for every walk before the audio: a header the file ends inside, or a move that fails, is an
// I/O error; four NUL bytes where an identifier belongs are no chunk (a preallocated file that
// was never written) and make the file unsupported; a stop signal ends the walk as an I/O
// error, since a damaged file of many small chunks takes long to walk. A stream that cannot
// seek (a pipe) is walked the same way, its skipped bytes read and dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

class ChunkWalker {
public:
    ChunkWalker(std::FILE* file, bool seekable, bool (*stopRequested)())
        : file_(file), seekable_(seekable), stopRequested_(stopRequested) {}

    // From the stream's position to the first chunk named `wanted`, leaving the stream just
    // past its identifier. Every other chunk goes to `visit` with its body next in the stream;
    // `visit` returns how many body bytes it read, and the rest is then passed over. A reader's
    // result code.
    int32_t FindChunk(uint32_t wanted,
                      const std::function<uint64_t(uint32_t id, uint32_t size)>& visit);
    // Moves `count` bytes on. False when the move fails; past the end of a stream too.
    bool Skip(uint64_t count);
    // The system's reason (errno) of the last move that failed, or 0.
    int SystemError() const { return systemError_; }

private:
    std::FILE* const file_;
    const bool seekable_;
    bool (*const stopRequested_)();
    int systemError_ = 0;
};
