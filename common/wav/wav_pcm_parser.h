// Reader of PCM WAV files: checks the layout, reports the format and hands out the sample
// bytes of the data chunk block by block with the media time reached.
#pragma once

#include <cstdint>

#include "wav_carried_items.h"
#include "wav_pcm_format.h"

// Result codes of the reader.
constexpr int32_t kWavParserSuccess = 0;
constexpr int32_t kWavParserEndOfData = 1;  // Read only
constexpr int32_t kWavParserNullPath = -1;
constexpr int32_t kWavParserGenericError = -2;  // a call the reader cannot take: null
                                                // argument, oversized request
constexpr int32_t kWavParserIoError = -3;
constexpr int32_t kWavParserUnsupported = -4;

class IWavPcmParser {
public:
    virtual ~IWavPcmParser() {}
    virtual int32_t Open(const char* path, WavPcmFormat* format, bool sizeFromFile) = 0;
    virtual int32_t Close() = 0;
    // `frames`: frames wanted on entry, whole frames delivered on success. `mediaTime`: media
    // time after the block, in 100 ns ticks.
    virtual int32_t Read(uint8_t* buffer, int64_t* frames, uint64_t* mediaTime) = 0;
    // What the file opened last holds besides its audio, for a WAV output to carry on.
    // Readers that keep nothing hand out an empty record.
    virtual const WavCarriedItems& CarriedItems() const {
        static const WavCarriedItems kNothing;
        return kNothing;
    }
    // Asked between chunks while Open walks the file: when it answers true, Open gives up
    // with -3. A damaged file of many small chunks takes long to walk, and the user may want
    // to stop. Readers that walk quickly may ignore it.
    virtual void SetStopCheck(bool (*stopRequested)()) { static_cast<void>(stopRequested); }
};

// Null when memory cannot be had.
IWavPcmParser* CreateWavPcmParser();
// Deletes the reader if it is ours, sets the pointer to null, returns 0.
int32_t DestroyWavPcmParser(IWavPcmParser*& parser);
