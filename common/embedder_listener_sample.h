// The tools' listeners: they receive the embedder's log messages and the watermarked audio,
// print the messages and block timestamps, and write the audio out.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "listener_output.h"
#include "pellion_audio_embedder.h"

// Listener of pellion-embed: WAV file through the writer, or raw PCM on standard output.
class PellionEmbedderListenerSample : public Corvida::IEmbedderListener {
public:
    PellionEmbedderListenerSample() = default;
    PellionEmbedderListenerSample(const PellionEmbedderListenerSample&) = delete;
    PellionEmbedderListenerSample& operator=(const PellionEmbedderListenerSample&) = delete;
    ~PellionEmbedderListenerSample() override = default;

    void OnMessage(const Corvida::EmbedderMessage& message) override;
    void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) override;

    // Returns a writer result code; 0 on success.
    int32_t Open(const char* outputFile, int32_t samplingRate, int32_t nbChannels,
                 int32_t bitsPerSample);
    // Completes and closes the WAV file, if any. A second call does nothing.
    void Close() { output_.Close(); }
    // For a run that ends before its audio starts: the output path is left as it was found.
    void Discard() { output_.Discard(); }

    // kWavMuxerSuccess while every block has been written; otherwise the code of the first
    // failure (a write cut short, standard output closed, the WAV file not completed), so that
    // the driver does not report a run whose output was lost as a success.
    int32_t OutputResult() const { return output_.Result(); }
    // Sample bytes the output holds.
    uint64_t BytesWritten() const { return output_.BytesWritten(); }

    // Set by the driver before Open.
    bool outputIsStdout = false;
    bool silent = false;
    std::string stdinEndianness;
    // Where the message and timestamp lines go: standard error when the audio itself goes to
    // standard output.
    std::ostream* console = nullptr;

private:
    int32_t bitsPerSample_ = 0;
    int32_t nbChannels_ = 0;
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

    void OnMessage(const Corvida::EmbedderMessage& message) override;
    void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) override;

    int32_t Open(const char* outputFile, int32_t samplingRate, int32_t nbChannels,
                 int32_t bitsPerSample);
    void Close() { output_.Close(); }
    void Discard() { output_.Discard(); }
    int32_t OutputResult() const { return output_.Result(); }
    uint64_t BytesWritten() const { return output_.BytesWritten(); }

    std::ostream* console = nullptr;

private:
    int32_t bitsPerSample_ = 0;
    int32_t nbChannels_ = 0;
    ListenerOutput output_;
};

// The line OnMessage prints for a message, without its end of line. Information lines are
// the caller's to suppress.
std::string FormatEmbedderMessage(const Corvida::EmbedderMessage& message);
