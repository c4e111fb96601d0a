// A WAV file as the output of a run (see the writer for what it holds at every instant).
#pragma once

#include <string>

#include "audio_sink.h"
#include "wav_writer.h"

class WavFileSink : public AudioSink {
public:
    // The name that means standard output.
    static constexpr char kStandardOutput[] = "-";

    // `stopRequested` lets an output that stalls (a FIFO, a pipe) give up after a stop signal.
    explicit WavFileSink(std::string path, bool (*stopRequested)() = nullptr);

    void CheckIsNotInput(const InputIdentity& input) const override;
    void Open(const WavPcmFormat& format, WavCarriedItems carried) override;
    CorvidaUtils::Status Start() override;
    CorvidaUtils::Status Close() override;
    CorvidaUtils::Status Discard() override;

private:
    CorvidaUtils::Status WriteBytes(uint8_t* bytes, uint64_t size) override;
    // Keeps the writer's notes; a result other than success is converted.
    CorvidaUtils::Status Converted(int32_t writerResult);

    const std::string path_;
    // How causes name the output.
    const std::string shownName_;
    WavWriter writer_;
};
