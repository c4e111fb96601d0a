#include "embedder_setup.h"

#include <string>

void PrintVersionLine(std::ostream& out) {
    const char* version = Corvida::GetVersion();
    out << "Pellion Embedding SDK version:" << (version != nullptr ? version : "") << std::endl;
}

void ApplyThreadSettings(const CommonSettings& settings, Corvida::IPellionAudioEmbedder& embedder,
                         CorvidaUtils::ExceptionSdk& sdkChecker) {
    if (settings.affinityMask) {
        const auto mask = static_cast<int64_t>(static_cast<int32_t>(*settings.affinityMask));
        sdkChecker.CheckResult(embedder.SetThreadCPUAffinity(mask),
                               "Set Thread CPU Affinity failed");
    }
    if (settings.threadPriority) {
        sdkChecker.CheckResult(embedder.SetThreadPriority(settings.threadPriority->policy,
                                                          settings.threadPriority->priority),
                               "Set Thread Priority failed");
    }
}

void ApplyAudioFormat(const WavPcmFormat& format, Corvida::IPellionAudioEmbedder& embedder,
                      CorvidaUtils::ExceptionSdk& sdkChecker) {
    Corvida::IEmbedderParameters* parameters = nullptr;
    sdkChecker.CheckResult(embedder.GetEmbedderParameters(&parameters),
                           "Get Embedder Parameters failed");
    // A library that reports success without handing out its parameters object.
    sdkChecker.CheckResult(parameters != nullptr ? 0 : 2, "Get Embedder Parameters failed");
    sdkChecker.CheckResult(parameters->SetBitsPerSample(static_cast<int32_t>(format.bitsPerSample)),
                           "Set Bits Per Sample failed");
    sdkChecker.CheckResult(parameters->SetChannels(static_cast<int32_t>(format.nbChannels)),
                           "SetChannels failed");
}

void ApplyRecordDirectory(const CommonSettings& settings,
                          Corvida::IPellionAudioEmbedder& embedder,
                          CorvidaUtils::ExceptionSdk& sdkChecker) {
    if (!settings.recordDirectory) return;
    sdkChecker.CheckResult(embedder.EnableRecord(settings.recordDirectory->c_str()),
                           "EnableRecord failed");
}

ChannelList GetChannelList(Corvida::IPellionAudioEmbedder& embedder,
                           CorvidaUtils::ExceptionSdk& sdkChecker) {
    ChannelList channels;
    sdkChecker.CheckResult(
        embedder.GetChannelNameList(&channels.names, &channels.ids, &channels.count),
        "GetChannelNameList failed");
    return channels;
}

void PrintChannelList(std::ostream& out, const ChannelList& channels) {
    out << "Available channels (name - id):" << std::endl;
    // Null arrays with a count are the library's fault; print what can be printed.
    if (channels.names == nullptr || channels.ids == nullptr) return;
    for (uint64_t i = 0; i < channels.count; ++i) {
        // A null name would put the stream into its failed state and silence the run.
        const char* name = channels.names[i] != nullptr ? channels.names[i] : "(null)";
        out << "\t" + std::string(name) + " - " + std::to_string(channels.ids[i]) << std::endl;
    }
}
