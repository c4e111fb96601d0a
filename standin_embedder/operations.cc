#include "operations.h"

#include <array>

namespace standin {
namespace {

// In the order of the enumeration.
constexpr std::array<std::string_view, kOpCount> kNames = {
    "GetVersion",
    "CreatePellionAudioEmbedder",
    "CreateOnlinePellionAudioEmbedder",
    "DestroyPellionAudioEmbedder",
    "Initialize",
    "Finalize",
    "FinalizeWithReport",
    "AddAudioBuffer",
    "EnableRecord",
    "GetEmbedderParameters",
    "AddMetadata",
    "GetChannelCount",
    "GetChannelNameList",
    "SetChannelName",
    "ResynchronizeTimecode",
    "SetThreadCPUAffinity",
    "SetThreadPriority",
    "SetJobReportDirectory",
    "GetJobReport",
    "SendJobReport",
    "SetBitsPerSample",
    "SetChannels",
};

}  // namespace

std::string_view OpName(Op op) {
    return kNames[OpIndex(op)];
}

std::optional<Op> OpFromName(std::string_view name) {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == name) return static_cast<Op>(i);
    }
    return std::nullopt;
}

}  // namespace standin
