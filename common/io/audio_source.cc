#include "audio_source.h"

#include <new>

#include "code_exception.h"
#include "result_codes.h"
#include "sample_conversion.h"

namespace {

std::vector<uint8_t> Allocated(uint64_t bytes, const char* context) {
    try {
        return std::vector<uint8_t>(bytes > 0 ? bytes : 1);
    } catch (const std::bad_alloc&) {
        CorvidaUtils::Raise(CorvidaUtils::Status(CorvidaUtils::kMemoryError, context));
    }
}

}  // namespace

void AudioSource::Prepare(uint64_t frames) {
    framesPerBlock_ = frames;
    samples_ = Allocated(FrameBytes() * frames, "Error allocating audio data buffer");
    if (format_.bitsPerSample == 24) {
        widened_ =
            Allocated(EmbedderFrameBytes() * frames, "Error allocating 24-bit conversion buffer");
    }
}

void AudioSource::Deliver(uint64_t bytes, AudioBlock& block) {
    block.inputSize = bytes;
    if (format_.bitsPerSample != 24) {
        block.data = samples_.data();
        block.size = bytes;
        return;
    }
    const uint64_t sampleCount = bytes / 3;
    WidenSamples24To32(samples_.data(), sampleCount, widened_.data());
    block.data = widened_.data();
    block.size = sampleCount * 4;
}
