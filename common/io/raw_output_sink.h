// Raw PCM on standard output as the output of a run, in the byte order the command line gives
// for the input. Standard output then carries the audio and nothing else.
#pragma once

#include <chrono>
#include <optional>

#include "audio_sink.h"

class RawOutputSink : public AudioSink {
public:
    RawOutputSink(bool bigEndian, bool (*stopRequested)())
        : AudioSink("Unable to write audio to standard output"),
          bigEndian_(bigEndian),
          stopRequested_(stopRequested) {}

    void CheckIsNotInput(const InputIdentity& input) const override;
    // Makes standard output unbuffered, and finds out whether it can stall (anything but a
    // regular file: a pipe, a terminal, a socket).
    void Open(const WavPcmFormat& format, WavCarriedItems carried) override;
    // Syncs standard output when it is a regular file, so that the audio is on the disk
    // before the run reports success; a pipe or a device has nothing to keep.
    void Close() override;
    // A run whose audio never started has nothing worth syncing.
    void Discard() override {}

private:
    uint64_t WriteBytes(uint8_t* bytes, uint64_t size) override;
    // On an output that can stall: waits for it in short slices, and writes at most what
    // poll() said it takes, so that no write blocks for long. A stop signal must end the run
    // even when the reader downstream takes nothing: about a second after the writer first
    // sees the stop, the output gives up (Abandoned) and drops every later block, so that the
    // library's thread, and the run waiting on it, can go on to the end.
    uint64_t WriteInSlices(const uint8_t* bytes, uint64_t size);
    // True once the output has had its time after a stop signal.
    bool StopGraceOver();

    const bool bigEndian_;
    bool (*const stopRequested_)();
    bool canStall_ = false;
    bool regularFile_ = false;
    // When the writing thread first saw the stop signal, if it has.
    std::optional<std::chrono::steady_clock::time_point> stopSeenAt_;
};
