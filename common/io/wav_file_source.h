// A WAV file as the source of a run, read at the pace of real time: each block carries its
// media time.
#pragma once

#include <string>

#include "audio_source.h"
#include "wav_reader.h"

class WavFileSource : public AudioSource {
public:
    // `stopRequested` lets the reader give up its walk through a damaged file of many chunks.
    WavFileSource(std::string path, bool (*stopRequested)());

    void Open() override;
    std::string Name() const override { return path_; }
    InputIdentity Identity() const override { return InputIdentity{path_, -1}; }
    WavCarriedItems TakeCarriedItems() override;
    ReadOutcome Read(AudioBlock& block) override;

private:
    void WarnIfShort() const;

    const std::string path_;
    WavReader reader_;
};
