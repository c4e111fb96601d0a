// The header of a PCM WAV file as the writer puts it at the start of its output: built in
// memory from the format and what the input carries, so that it can be checked without files.
#pragma once

#include <cstdint>
#include <vector>

#include "wav_carried_items.h"

// Bytes per frame, as the 16-bit block align field holds it.
uint16_t WavBlockAlign(int16_t channels, int16_t bitsPerSample);

// The header up to and including the data chunk's header, with the sizes of a file without
// samples. `stream`: for an output whose sizes cannot be rewritten later.
std::vector<uint8_t> BuildWavHeader(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample,
                                    const WavCarriedItems& carried, bool stream);
