// Walks the chunks of a RIFF file up to the one wanted, one header at a time, with one policy
// for every walk before the audio: a header the file ends inside, or a move that fails, is an
// I/O error; four NUL bytes where an identifier belongs are no chunk (a preallocated file that
// was never written) and make the file unsupported; a stop signal ends the walk as an I/O
// error, since a damaged file of many small chunks takes long to walk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

class ChunkWalker {
public:
    ChunkWalker(std::FILE* file, bool (*stopRequested)())
        : file_(file), stopRequested_(stopRequested) {}

    // From the stream's position to the first chunk named `wanted`, leaving the stream just
    // past its identifier. Every other chunk goes to `visit` with its body next in the stream
    // (where `visit` leaves the stream again), and is then passed over. A reader's result code.
    int32_t FindChunk(uint32_t wanted,
                      const std::function<void(uint32_t id, uint32_t size)>& visit);
    // The bytes of the chunks passed over so far, headers and pad bytes included.
    uint64_t PassedOver() const { return passedOver_; }

private:
    std::FILE* const file_;
    bool (*const stopRequested_)();
    uint64_t passedOver_ = 0;
};
