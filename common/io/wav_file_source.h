// A WAV file as the source of a run, read at the pace of real time unless told otherwise: each
// block carries its media time.
#pragma once

#include <string>

#include "audio_source.h"
#include "wav_reader.h"

class WavFileSource : public AudioSource {
public:
    // `stopRequested` lets the reader give up its walk through a damaged file of many chunks.
    // `paced`: false to feed the file as fast as the embedder takes it.
    WavFileSource(std::string path, bool (*stopRequested)(), bool paced = true);

    void Open() override;
    std::string Name() const override { return path_; }
    InputIdentity Identity() const override { return InputIdentity{path_, -1}; }
    WavCarriedItems TakeCarriedItems() override;
    bool Paced() const override { return paced_; }
    ReadOutcome Read(AudioBlock& block) override;

private:
    void WarnIfShort() const;

    const std::string path_;
    const bool paced_;
    WavReader reader_;
};
