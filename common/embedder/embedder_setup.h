// Set-up steps that both tools apply to a new embedder in the same way, each result checked
// at once with its own context message.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "code_exception.h"
#include "common_settings.h"
#include "pellion_audio_embedder.h"
#include "wav_pcm_format.h"

// "Pellion Embedding SDK version:" and the library's version text.
void PrintVersionLine(std::ostream& out);
// The program's name and version, then the library's version line.
void PrintProgramVersion(std::ostream& out, const std::string& programName);

// "--affinity" and "--prio", when given. The 32-bit mask reaches the library sign-extended:
// a mask with bit 31 set arrives with bits 32 to 63 set too.
void ApplyThreadSettings(const CommonSettings& settings, Corvida::IPellionAudioEmbedder& embedder,
                         CorvidaUtils::ExceptionSdk& sdkChecker);

// Sample width and channel count; the rate is given to the embedder by no call.
// `inputName` names the input in a hint at what would work.
void ApplyAudioFormat(const WavPcmFormat& format, const std::string& inputName,
                      Corvida::IPellionAudioEmbedder& embedder,
                      CorvidaUtils::ExceptionSdk& sdkChecker);

// "--record", when given.
void ApplyRecordDirectory(const CommonSettings& settings, Corvida::IPellionAudioEmbedder& embedder,
                          CorvidaUtils::ExceptionSdk& sdkChecker);

struct ChannelList {
    const char* const* names = nullptr;
    const int64_t* ids = nullptr;
    uint64_t count = 0;
};

ChannelList GetChannelList(Corvida::IPellionAudioEmbedder& embedder,
                           CorvidaUtils::ExceptionSdk& sdkChecker);

// A heading, then one line per channel: a tab, the name, " - ", the id.
void PrintChannelList(std::ostream& out, const ChannelList& channels);
