// What a WAV input holds besides its audio that a WAV output carries on: the chunks around
// the audio, the speaker positions of the channels, and the 64-bit form of a long recording.
// The reader fills it at Open; the writer builds its header from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Metadata rarely takes more than a few hundred kilobytes; a chunk that would take the chunks
// kept past this total is left out (one note counts all those left out), so that an input
// cannot make the run hold an unbounded amount of memory.
constexpr uint64_t kCarriedChunkBytesLimit = uint64_t{8} << 20;

struct WavCarriedItems {
    // Whole chunks (header, body and, after an odd body, a zero pad byte), in input order:
    // those that stand before the audio in the input, and those after it.
    std::vector<uint8_t> chunksBeforeAudio;
    std::vector<uint8_t> chunksAfterAudio;
    // Speaker positions of an extensible format chunk; 0 when the input names none.
    uint32_t channelMask = 0;
    // The tag of the input's format chunk (1 plain PCM, 0xFFFE extensible); 0 for raw input.
    uint16_t formatTag = 0;
    // The input is an RF64 file: its sizes are 64-bit, in a "ds64" chunk.
    bool rf64 = false;
    // One line per kind of thing of the input that is not carried, and why, for standard error.
    std::vector<std::string> notes;
};
