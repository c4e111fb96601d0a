#pragma once

#include <cstdint>

// Format of the audio of a run: from the WAV reader, or from the command line for raw input.
struct WavPcmFormat {
    uint64_t nbChannels = 0;
    uint64_t samplingRate = 0;  // Hz
    uint64_t bitsPerSample = 0;
};
