#include "embedder_parameters.h"

#include "hooks.h"
#include "library_result_codes.h"

namespace standin {

int32_t EmbedderParameters::SetBitsPerSample(int32_t bitsPerSample) {
    if (const auto fault = hooks::Enter(Op::kSetBitsPerSample, listener_, {bitsPerSample})) {
        return *fault;
    }
    if (frozen_) return code::kAlreadyInitialized;
    if (bitsPerSample != 16 && bitsPerSample != 24 && bitsPerSample != 32) {
        return code::kBitsPerSampleInvalid;
    }
    bitsPerSample_ = bitsPerSample;
    return code::kOk;
}

int32_t EmbedderParameters::SetChannels(int32_t channels) {
    if (const auto fault = hooks::Enter(Op::kSetChannels, listener_, {channels})) return *fault;
    if (frozen_) return code::kAlreadyInitialized;
    if (channels <= 0) return code::kChannelsInvalid;
    channels_ = channels;
    return code::kOk;
}

}  // namespace standin
