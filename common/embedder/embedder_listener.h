// The listener of both programs: it hands the watermarked audio to the sink, and the
// embedder's messages and each block's return to the run's reporter.
//
// The callbacks run on the library's threads. No exception leaves them: a failure inside (a
// lost write, memory that cannot be had) is handed to the run's record of its first failure,
// which the run looks at after every block and at the end, and reports as lost output.
#pragma once

#include <cstdint>

#include "audio_sink.h"
#include "first_failure.h"
#include "pellion_audio_embedder.h"
#include "run_reporter.h"

class EmbedderListener : public Corvida::IEmbedderListener {
public:
    EmbedderListener(AudioSink& sink, RunReporter& reporter, CorvidaUtils::FirstFailure& failure)
        : sink_(sink), reporter_(reporter), failure_(failure) {}
    EmbedderListener(const EmbedderListener&) = delete;
    EmbedderListener& operator=(const EmbedderListener&) = delete;

    void OnMessage(const Corvida::EmbedderMessage& message) noexcept override;
    // `timestamp` was allocated with malloc by the run; it is freed here whatever happens.
    void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) noexcept override;

private:
    AudioSink& sink_;
    RunReporter& reporter_;
    CorvidaUtils::FirstFailure& failure_;
};
