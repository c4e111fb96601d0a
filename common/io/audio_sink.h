// Where the watermarked audio of a run goes: a WAV file, or raw PCM on standard output. A
// sink takes audio in the form the embedder hands back (24-bit samples as 32-bit words,
// little-endian) and owns everything from there: packing, byte order, writing, completing
// the output. What fails is returned to the caller (the run, or the listener on the library's
// thread, which hands it to the run); after its first failed write the sink takes nothing
// more.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio_source.h"
#include "remarks.h"
#include "status.h"
#include "wav_carried_items.h"
#include "wav_pcm_format.h"

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Raises (44) when writing the output would destroy `input`.
    virtual void CheckIsNotInput(const InputIdentity& input) const = 0;
    // Claims the output for audio of `format`; what the input holds besides its audio goes on
    // to a WAV file. Raises a CodeException.
    virtual void Open(const WavPcmFormat& format, WavCarriedItems carried) = 0;
    // Before the first block goes to the embedder: from here on the output is this run's.
    virtual CorvidaUtils::Status Start() { return CorvidaUtils::Status(); }
    // Watermarked audio from the library's thread, which the sink may rewrite in place.
    CorvidaUtils::Status Write(uint8_t* data, uint64_t size) noexcept;
    // Completes the output and, where it is a file, syncs it to the disk, so that a run that
    // reports success leaves an output that survives a power cut.
    virtual CorvidaUtils::Status Close() = 0;
    // Leaves the output path as the run found it, for a run whose audio never started.
    virtual CorvidaUtils::Status Discard() { return Close(); }

    // After a stop signal the output stopped taking audio: the run is interrupted, and its
    // output holds less than was fed, but nothing failed.
    bool Abandoned() const { return abandoned_.load(std::memory_order_acquire); }
    // Frames the output holds.
    uint64_t FramesWritten() const;
    // The result line's text for audio that did not reach the output.
    const char* WriteFailureContext() const { return writeFailureContext_; }
    // The notes about what the output does not carry since they were last taken (from the
    // run's thread: Open, Start, Close and Discard make them).
    Remarks TakeRemarks() {
        const std::lock_guard<std::mutex> lock(remarksMutex_);
        return std::move(remarks_);
    }

protected:
    explicit AudioSink(const char* writeFailureContext)
        : writeFailureContext_(writeFailureContext) {}

    // Writes the packed bytes of whole frames, which may be rewritten in place, counting
    // those that reach the output (Written).
    virtual CorvidaUtils::Status WriteBytes(uint8_t* bytes, uint64_t size) = 0;
    void Written(uint64_t bytes) { bytesWritten_.fetch_add(bytes, std::memory_order_acq_rel); }
    void RecordAbandoned() { abandoned_.store(true, std::memory_order_release); }
    void Note(std::string text) {
        const std::lock_guard<std::mutex> lock(remarksMutex_);
        remarks_.push_back(Remark{false, std::move(text)});
    }
    // A failure of the output: its code, the result line's text, and the cause built from the
    // object and the system's reason (errno), where there is one.
    CorvidaUtils::Status Failure(int32_t code, const std::string& object, int error) const;

    WavPcmFormat format_;

private:
    const char* const writeFailureContext_;
    std::atomic<bool> failed_{false};
    std::atomic<bool> abandoned_{false};
    std::atomic<uint64_t> bytesWritten_{0};
    std::mutex remarksMutex_;
    Remarks remarks_;
};

// The failure of memory that cannot be had, built without needing any.
CorvidaUtils::Status MemoryFailure(const char* context) noexcept;
