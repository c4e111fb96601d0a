// The listener of both programs: it hands the watermarked audio to the sink, and prints the
// embedder's messages and each block's timestamp on the console. What differs between the two
// programs is data given to it.
//
// The callbacks run on the library's threads. No exception leaves them: a failure inside
// (memory that cannot be had) is recorded in the sink, which the run checks after every block
// and at the end, and reports as lost output.
#pragma once

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>

#include "audio_sink.h"
#include "pellion_audio_embedder.h"

struct ListenerStyle {
    // Information lines and timestamps left out; warnings and errors are still printed.
    bool silent = false;
    // Timestamps read as signed and rounded to single precision before they are printed.
    bool singlePrecisionTimestamps = false;
    // The console is a terminal: the progress line (a timestamp ending in a carriage return) is
    // ended before any other line, so that no line is printed over it.
    bool terminal = false;
};

class EmbedderListener : public Corvida::IEmbedderListener {
public:
    EmbedderListener(AudioSink& sink, std::ostream& console, ListenerStyle style)
        : sink_(sink), console_(console), style_(style) {}
    EmbedderListener(const EmbedderListener&) = delete;
    EmbedderListener& operator=(const EmbedderListener&) = delete;

    void OnMessage(const Corvida::EmbedderMessage& message) noexcept override;
    // `timestamp` was allocated with malloc by the run; it is freed here whatever happens.
    void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) noexcept override;
    // Before the run's own last lines, once the embedder is gone.
    void EndProgressLine();

private:
    AudioSink& sink_;
    std::ostream& console_;
    const ListenerStyle style_;
    // A progress line stands on the terminal, not yet ended.
    std::atomic<bool> progressShown_{false};
};

// The line OnMessage prints for a message, without its end of line.
std::string FormatEmbedderMessage(const Corvida::EmbedderMessage& message);
