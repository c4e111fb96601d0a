// Raw PCM on standard input as the source of a run: a live stream, fed as fast as it comes,
// in the format the command line gives. Big-endian samples are turned little-endian here. A
// stream that begins with a WAV header is refused: it belongs in the input file's place. A
// stream that sends nothing for over a second says so (kWaiting), so that the run can tell.
#pragma once

#include <unistd.h>

#include <chrono>
#include <vector>

#include "audio_source.h"

class RawInputSource : public AudioSource {
public:
    RawInputSource(const WavPcmFormat& format, bool bigEndian, bool (*stopRequested)());

    void Open() override;
    std::string Name() const override { return "stdin"; }
    InputIdentity Identity() const override { return InputIdentity{"", STDIN_FILENO}; }
    ReadOutcome Read(AudioBlock& block) override;
    bool Refused() const override { return refused_; }

private:
    // Fills the read buffer from standard input, waiting at most until `patience` runs out.
    // False when nothing came: the end of the input, a stop signal, or no data in time.
    bool Fill(std::chrono::steady_clock::time_point patience);
    // Hands over whole frames of what has been gathered: kBlock, or kEnd/kStopped for none.
    ReadOutcome HandOver(AudioBlock& block);

    const bool bigEndian_;
    bool (*const stopRequested_)();
    // Standard input is read through a buffer of its own: a read takes whatever the pipe
    // holds, up to its size, so buffering delays no block and spares a system call for most.
    std::vector<uint8_t> buffer_;
    size_t bufferStart_ = 0;
    size_t bufferEnd_ = 0;
    // The bytes of the block being gathered, in samples_.
    uint64_t gathered_ = 0;
    bool ended_ = false;
    int readError_ = 0;
    bool firstRead_ = true;
    bool refused_ = false;
    // Since when the input has sent nothing (or since a stall was last told).
    std::chrono::steady_clock::time_point waitingSince_;
};
