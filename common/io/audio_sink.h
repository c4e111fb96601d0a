// Where the watermarked audio of a run goes: a WAV file, or raw PCM on standard output. A
// sink takes audio in the form the embedder hands back (24-bit samples as 32-bit words,
// little-endian) and owns everything from there: packing, byte order, writing, completing
// the output, and the record of the first write that was lost, which the run checks after
// every block and at the end so that lost output is never reported as a success.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio_source.h"
#include "wav_carried_items.h"
#include "wav_pcm_format.h"

// A failure of the output, converted where it happened into a general result code.
struct SinkFailure {
    int32_t code = 0;          // 0: none
    const char* context = "";  // the text of the result line
    std::string cause;         // the object and the system's reason, when there is one
};

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Raises (44) when writing the output would destroy `input`.
    virtual void CheckIsNotInput(const InputIdentity& input) const = 0;
    // Claims the output for audio of `format`; what the input holds besides its audio goes on
    // to a WAV file. Raises a CodeException.
    virtual void Open(const WavPcmFormat& format, WavCarriedItems carried) = 0;
    // Before the first block goes to the embedder: from here on the output is this run's.
    virtual void Start() {}
    // Watermarked audio from the library's thread, which the sink may rewrite in place. Never
    // throws: a failure is recorded.
    void Write(uint8_t* data, uint64_t size) noexcept;
    // Completes the output and, where it is a file, syncs it to the disk, so that a run that
    // reports success leaves an output that survives a power cut; a failure is recorded.
    virtual void Close() = 0;
    // Leaves the output path as the run found it, for a run whose audio never started.
    virtual void Discard() { Close(); }

    // The first failure; code 0 when there was none.
    SinkFailure Failure() const;
    // After a stop signal the output stopped taking audio: the run is interrupted, and its
    // output holds less than was fed, but nothing failed.
    bool Abandoned() const { return abandoned_.load(std::memory_order_acquire); }
    // Frames the output holds.
    uint64_t FramesWritten() const;
    // Records a failure of the output unless one is recorded already: `code` a general result
    // code, `error` the system's (errno) about `object`, when there is one. Also for the
    // listener, whose own work (a console line) may fail on the library's thread.
    void RecordFailure(int32_t code, const char* context, const std::string& object = "",
                       int error = 0) noexcept;
    // The result line's text for audio that did not reach the output.
    const char* WriteFailureContext() const { return writeFailureContext_; }

protected:
    explicit AudioSink(const char* writeFailureContext)
        : writeFailureContext_(writeFailureContext) {}

    // The packed bytes of whole frames, which may be rewritten in place; returns how many
    // reached the output.
    virtual uint64_t WriteBytes(uint8_t* bytes, uint64_t size) = 0;
    void RecordAbandoned() { abandoned_.store(true, std::memory_order_release); }
    bool Failed() const { return failed_.load(std::memory_order_acquire); }

    WavPcmFormat format_;

private:
    const char* const writeFailureContext_;
    mutable std::mutex mutex_;
    SinkFailure failure_;
    std::atomic<bool> failed_{false};
    std::atomic<bool> abandoned_{false};
    std::atomic<uint64_t> bytesWritten_{0};
};
