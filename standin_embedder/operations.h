// Names of the library's entry points, as the test hooks spell them.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace standin {

enum class Op {
    kGetVersion,
    kCreatePellionAudioEmbedder,
    kCreateOnlinePellionAudioEmbedder,
    kDestroyPellionAudioEmbedder,
    kInitialize,
    kFinalize,
    kFinalizeWithReport,
    kAddAudioBuffer,
    kEnableRecord,
    kGetEmbedderParameters,
    kAddMetadata,
    kGetChannelCount,
    kGetChannelNameList,
    kSetChannelName,
    kResynchronizeTimecode,
    kSetThreadCPUAffinity,
    kSetThreadPriority,
    kSetJobReportDirectory,
    kGetJobReport,
    kSendJobReport,
    kSetBitsPerSample,
    kSetChannels,
};

inline constexpr std::size_t kOpCount = static_cast<std::size_t>(Op::kSetChannels) + 1;

std::string_view OpName(Op op);
std::optional<Op> OpFromName(std::string_view name);

inline constexpr std::size_t OpIndex(Op op) {
    return static_cast<std::size_t>(op);
}

}  // namespace standin
