// A WAV file as the source of a run, read at the pace of real time unless told otherwise: each
// block carries its media time. A WAV stream (a pipe, a FIFO, a device, or "-" for standard
// input) comes as fast as its writer sends it, like raw standard input: not paced, and its
// blocks carry no media time.
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
    InputIdentity Identity() const override;
    WavCarriedItems TakeCarriedItems() override;
    bool Paced() const override { return paced_ && !reader_.IsStream(); }
    ReadOutcome Read(AudioBlock& block) override;

private:
    void WarnIfShort();
    bool IsStandardInput() const;

    const std::string path_;
    const bool paced_;
    WavReader reader_;
};
