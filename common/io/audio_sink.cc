#include "audio_sink.h"

#include <new>

#include "result_codes.h"
#include "sample_conversion.h"
#include "system_cause.h"

void AudioSink::Write(uint8_t* data, uint64_t size) noexcept {
    if (data == nullptr || size == 0 || Failed() || Abandoned()) return;
    const uint64_t bytesPerSample = format_.bitsPerSample / 8;
    uint64_t length = size;
    if (bytesPerSample == 3) {
        // Whole frames of 32-bit words, packed in place: the library lets the listener
        // rewrite its block during the call, so no buffer is needed.
        const uint64_t channels = format_.nbChannels > 0 ? format_.nbChannels : 1;
        const uint64_t words = size / 4 / channels * channels;
        PackSamples32To24(data, words, data);
        length = words * 3;
    }
    try {
        bytesWritten_.fetch_add(WriteBytes(data, length), std::memory_order_acq_rel);
    } catch (const std::bad_alloc&) {
        RecordFailure(CorvidaUtils::kMemoryError,
                      "Error allocating memory for the embedder's output");
    }
}

SinkFailure AudioSink::Failure() const {
    if (!Failed()) return SinkFailure();
    const std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

uint64_t AudioSink::FramesWritten() const {
    const uint64_t frameBytes = format_.nbChannels * (format_.bitsPerSample / 8);
    return frameBytes > 0 ? bytesWritten_.load(std::memory_order_acquire) / frameBytes : 0;
}

void AudioSink::RecordFailure(int32_t code, const char* context, const std::string& object,
                              int error) noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (failed_.load(std::memory_order_relaxed)) return;
    failure_.code = code;
    failure_.context = context;
    try {
        failure_.cause = SystemCause(object, error);
    } catch (const std::bad_alloc&) {
        // The code and the context still tell what failed.
    }
    failed_.store(true, std::memory_order_release);
}
