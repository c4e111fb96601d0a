// Writer of PCM WAV files. Open claims the output: a file it creates holds a valid empty WAV
// file at once, an existing one keeps what it holds until Start (or the first Write, or Close)
// replaces it in place. The header's sizes stay true while samples are appended, and are final
// at Close. An output whose sizes cannot be rewritten (a FIFO, a device) is written as a stream
// of unknown length.
#pragma once

#include <cstdint>

#include "wav_carried_items.h"

// Result codes of the writer.
constexpr int32_t kWavMuxerSuccess = 0;
constexpr int32_t kWavMuxerNotOpen = 1;       // null path, or Write without an open file
constexpr int32_t kWavMuxerGenericError = 2;  // a call the writer cannot take: negative
                                              // length, null data
constexpr int32_t kWavMuxerIoError = 3;
constexpr int32_t kWavMuxerInUse = 4;        // another writer holds the output
constexpr int32_t kWavMuxerOutOfMemory = 5;  // memory could not be had

class IWavPcmMuxer {
public:
    virtual ~IWavPcmMuxer() {}
    // Creates the output if it does not exist and takes it for this writer alone; an existing
    // file keeps its content until the first Write or Close.
    virtual int32_t Open(const char* path, int16_t channels, uint32_t sampleRate,
                         int16_t bitsPerSample) = 0;
    // Puts the header in place: from here on the output holds this writer's WAV file, also if
    // the process dies. An existing file is overwritten in place, then cut to the header, so
    // that it is never torn; where the header cannot be written, it is given back as it was.
    virtual int32_t Start() = 0;
    // Completes the WAV file (a header alone when nothing was written) and closes it.
    virtual int32_t Close() = 0;
    virtual int32_t Write(const uint8_t* data, int32_t length) = 0;
    // Gives the output back as Open found it, for a run that ends before its audio starts: a
    // file Open created is removed, an existing one is left as it was. Once the WAV file has
    // been started this completes it as Close does, so that no written audio is lost.
    virtual int32_t Discard() = 0;
    // What the input holds besides its audio, for the files this writer opens from then on:
    // chunks before the audio go between the format chunk and the audio, chunks after it
    // follow the audio when the file is completed, and the channel mask and the 64-bit form
    // are kept. Writers that cannot carry them ignore them.
    virtual void SetCarriedItems(WavCarriedItems items) { static_cast<void>(items); }
};

// Null when memory cannot be had.
IWavPcmMuxer* CreateWavPcmMuxer();
// Deletes the writer if it is ours (which completes its file), sets the pointer to null,
// returns 0.
int32_t DestroyWavPcmMuxer(IWavPcmMuxer*& muxer);
