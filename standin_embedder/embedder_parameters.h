// The audio format settings of an embedder, handed out by GetEmbedderParameters.
#pragma once

#include <cstdint>
#include <optional>

#include "pellion_audio_embedder.h"

namespace standin {

class EmbedderParameters final : public Corvida::IEmbedderParameters {
public:
    explicit EmbedderParameters(Corvida::IEmbedderListener* listener) : listener_(listener) {}

    int32_t SetBitsPerSample(int32_t bitsPerSample) override;
    int32_t SetChannels(int32_t channels) override;

    std::optional<int32_t> BitsPerSample() const { return bitsPerSample_; }
    std::optional<int32_t> Channels() const { return channels_; }
    // Once the job has started the format is fixed.
    void Freeze() { frozen_ = true; }

private:
    Corvida::IEmbedderListener* const listener_;
    std::optional<int32_t> bitsPerSample_;
    std::optional<int32_t> channels_;
    bool frozen_ = false;
};

}  // namespace standin
