#include "audio_sink.h"

#include <new>

#include "result_codes.h"
#include "sample_conversion.h"
#include "system_cause.h"

CorvidaUtils::Status MemoryFailure(const char* context) noexcept {
    try {
        return CorvidaUtils::Status(CorvidaUtils::kMemoryError, context);
    } catch (...) {
        // The code still tells what failed.
        return CorvidaUtils::Status(CorvidaUtils::kMemoryError, std::string());
    }
}

CorvidaUtils::Status AudioSink::Write(uint8_t* data, uint64_t size) noexcept {
    if (data == nullptr || size == 0 || failed_.load(std::memory_order_acquire) || Abandoned()) {
        return CorvidaUtils::Status();
    }
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
    CorvidaUtils::Status status;
    try {
        status = WriteBytes(data, length);
    } catch (const std::bad_alloc&) {
        status = MemoryFailure("Error allocating memory for the embedder's output");
    }
    if (!status.ok()) failed_.store(true, std::memory_order_release);
    return status;
}

uint64_t AudioSink::FramesWritten() const {
    const uint64_t frameBytes = format_.nbChannels * (format_.bitsPerSample / 8);
    return frameBytes > 0 ? bytesWritten_.load(std::memory_order_acquire) / frameBytes : 0;
}

CorvidaUtils::Status AudioSink::Failure(int32_t code, const std::string& object, int error) const {
    return CorvidaUtils::Status(code, writeFailureContext_, SystemCause(object, error));
}
