// Raw PCM on standard input as the source of a run: a live stream, fed as fast as it comes,
// in the format the command line gives. Big-endian samples are turned little-endian here. A
// stream that begins with a WAV header is refused: it belongs in the input file's place.
#pragma once

#include <cstdio>

#include "audio_source.h"

class RawInputSource : public AudioSource {
public:
    RawInputSource(const WavPcmFormat& format, bool bigEndian, bool (*stopRequested)());

    void Open() override;
    std::string Name() const override { return "stdin"; }
    InputIdentity Identity() const override { return InputIdentity{"", fileno(stdin)}; }
    ReadOutcome Read(AudioBlock& block) override;
    bool Refused() const override { return refused_; }

private:
    const bool bigEndian_;
    bool (*const stopRequested_)();
    bool firstRead_ = true;
    bool refused_ = false;
};
