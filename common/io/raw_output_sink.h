// Raw PCM on standard output as the output of a run, in the byte order the command line gives
// for the input. Standard output then carries the audio and nothing else.
#pragma once

#include <memory>

#include "audio_sink.h"
#include "stallable_output.h"

class RawOutputSink : public AudioSink {
public:
    RawOutputSink(bool bigEndian, bool (*stopRequested)())
        : AudioSink("Unable to write audio to standard output"),
          bigEndian_(bigEndian),
          stopRequested_(stopRequested) {}

    void CheckIsNotInput(const InputIdentity& input) const override;
    // Finds out whether standard output can stall (anything but a regular file: a pipe, a
    // terminal, a socket).
    void Open(const WavPcmFormat& format, WavCarriedItems carried) override;
    // Syncs standard output when it is a regular file, so that the audio is on the disk
    // before the run reports success; a pipe or a device has nothing to keep.
    CorvidaUtils::Status Close() override;
    // A run whose audio never started has nothing worth syncing.
    CorvidaUtils::Status Discard() override { return CorvidaUtils::Status(); }

private:
    CorvidaUtils::Status WriteBytes(uint8_t* bytes, uint64_t size) override;

    const bool bigEndian_;
    bool (*const stopRequested_)();
    bool regularFile_ = false;
    // An output that can stall: a stop signal must end the run even when the reader
    // downstream takes nothing (see stallable_output.h); the output is then Abandoned.
    std::unique_ptr<StallableOutput> stallable_;
};
