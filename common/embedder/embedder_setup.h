// Set-up steps that both tools apply to a new embedder in the same way, each library result
// checked at once with its own context, and raised (CodeException) when it fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "code_exception.h"
#include "common_settings.h"
#include "pellion_audio_embedder.h"
#include "run_reporter.h"
#include "wav_pcm_format.h"

// The library's version text, as GetVersion gives it ("" for none).
std::string LibraryVersion();

// "--affinity" and "--prio", when given. The 32-bit mask reaches the library sign-extended:
// a mask with bit 31 set arrives with bits 32 to 63 set too.
void ApplyThreadSettings(const CommonSettings& settings, Corvida::IPellionAudioEmbedder& embedder);

// Sample width and channel count; the rate is given to the embedder by no call.
// `inputName` names the input in a hint at what would work.
void ApplyAudioFormat(const WavPcmFormat& format, const std::string& inputName,
                      Corvida::IPellionAudioEmbedder& embedder);

// "--record", when given.
void ApplyRecordDirectory(const CommonSettings& settings, Corvida::IPellionAudioEmbedder& embedder);

struct ChannelList {
    const char* const* names = nullptr;
    const int64_t* ids = nullptr;
    uint64_t count = 0;
};

ChannelList GetChannelList(Corvida::IPellionAudioEmbedder& embedder);

// The channels as a reporter shows them: none where the library handed out null arrays,
// "(null)" for a null name.
std::vector<ReportedChannel> ReportedChannels(const ChannelList& channels);
