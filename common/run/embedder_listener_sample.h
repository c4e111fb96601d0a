// The tools' listeners: they receive the embedder's log messages and the watermarked audio,
// print the messages and block timestamps, and write the audio out.
//
// The callbacks run on the library's threads. No exception leaves them: a failure inside
// (memory that cannot be had) is recorded in the output, which the driver checks after every
// block and at the end, and reports as lost output.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#include "listener_output.h"
#include "pellion_audio_embedder.h"

// Listener of pellion-embed: WAV file through the writer, or raw PCM on standard output.
class PellionEmbedderListenerSample : public Corvida::IEmbedderListener {
public:
    PellionEmbedderListenerSample() = default;
    PellionEmbedderListenerSample(const PellionEmbedderListenerSample&) = delete;
    PellionEmbedderListenerSample& operator=(const PellionEmbedderListenerSample&) = delete;
    ~PellionEmbedderListenerSample() override = default;

    void OnMessage(const Corvida::EmbedderMessage& message) noexcept override;
    void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) noexcept override;

    // Returns a writer result code; 0 on success.
    int32_t Open(const char* outputFile, int32_t samplingRate, int32_t nbChannels,
                 int32_t bitsPerSample);
    // What a WAV input holds besides its audio, for the WAV file Open creates; a raw output
    // carries none of it.
    void SetCarriedItems(WavCarriedItems items) { output_.SetCarriedItems(std::move(items)); }
    // Completes and closes the WAV file, if any. A second call does nothing.
    void Close() { output_.Close(); }
    // Where the audio goes, and what became of it: the driver checks it, discards or closes it.
    ListenerOutput& Output() { return output_; }

    // Set by the driver before Open.
    bool outputIsStdout = false;
    bool silent = false;
    std::string stdinEndianness;
    // Where the message and timestamp lines go: standard error when the audio itself goes to
    // standard output.
    std::ostream* console = nullptr;

private:
    int32_t bitsPerSample_ = 0;
    ListenerOutput output_;
};

// Listener of pellion-embed-online: WAV file only, every line printed, timestamps released
// with free().
class OnlinePellionEmbedderListenerSample : public Corvida::IEmbedderListener {
public:
    OnlinePellionEmbedderListenerSample();
    OnlinePellionEmbedderListenerSample(const OnlinePellionEmbedderListenerSample&) = delete;
    OnlinePellionEmbedderListenerSample& operator=(const OnlinePellionEmbedderListenerSample&) =
        delete;
    ~OnlinePellionEmbedderListenerSample() override = default;

    void OnMessage(const Corvida::EmbedderMessage& message) noexcept override;
    void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) noexcept override;

    int32_t Open(const char* outputFile, int32_t samplingRate, int32_t nbChannels,
                 int32_t bitsPerSample);
    void SetCarriedItems(WavCarriedItems items) { output_.SetCarriedItems(std::move(items)); }
    void Close() { output_.Close(); }
    ListenerOutput& Output() { return output_; }

    std::ostream* console = nullptr;

private:
    int32_t bitsPerSample_ = 0;
    int32_t nbChannels_ = 0;
    ListenerOutput output_;
};

// The line OnMessage prints for a message, without its end of line. Information lines are
// the caller's to suppress.
std::string FormatEmbedderMessage(const Corvida::EmbedderMessage& message);
