// The chunk layout of a WAV file as tests inspect it: RIFF or RF64, each chunk with its place
// and bytes, checked against the RIFF rules (every chunk whole, a zero pad byte after an odd
// body, the RIFF size counting the whole file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wav_fixture.h"

struct WavChunkView {
    std::string id;
    size_t offset = 0;  // of the chunk header
    uint64_t size = 0;  // of the body; for the data chunk of an RF64 file, from "ds64"
    ByteVector body;
    ByteVector whole;  // header, body and pad byte, as in the file
};

struct WavLayout {
    std::string form;  // "RIFF" or "RF64"; empty for no WAV file
    uint32_t riffSizeField = 0;
    uint64_t riffSize = 0;  // the RIFF size field, or the RIFF size of the "ds64" chunk
    uint64_t ds64DataSize = 0;
    uint64_t ds64Frames = 0;
    std::vector<WavChunkView> chunks;
    // The last chunk has an odd body and the file ends without its pad byte, which readers
    // accept; not counted as a problem.
    bool lastPadMissing = false;
    std::string problem;  // the first breach of the rules; empty when none

    std::vector<std::string> Ids() const;
    // The first chunk with this identifier, or null.
    const WavChunkView* Find(const std::string& id) const;
};

WavLayout ParseWavLayout(const ByteVector& file);

// An extensible format chunk body naming these speakers.
ByteVector ExtensibleFormatBodyWithMask(uint16_t channels, uint32_t rate, uint16_t bits,
                                        uint32_t mask);

// The body of a "bext" chunk with this time reference (samples since midnight), followed by
// `codingHistory`.
ByteVector BextBody(uint64_t timeReference, const std::string& codingHistory);

// A "LIST" chunk of type `type` ("INFO", "adtl") holding `chunks`.
ByteVector ListChunk(const char* type, const std::vector<ByteVector>& chunks);

// "RF64", "WAVE", a "ds64" chunk with true sizes, then the chunks, whose data chunk (of
// `dataBytes` bytes and `frames` frames) carries all ones as its size.
ByteVector Rf64File(const std::vector<ByteVector>& chunks, uint64_t dataBytes, uint64_t frames);
