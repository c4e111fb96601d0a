#include "embedder_setup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <string>

#include "system_cause.h"

void PrintVersionLine(std::ostream& out) {
    const char* version = Corvida::GetVersion();
    out << "Pellion Embedding SDK version:" << (version != nullptr ? version : "") << std::endl;
}

void PrintProgramVersion(std::ostream& out, const std::string& programName) {
    out << programName << " " << PELLION_VERSION << std::endl;
    PrintVersionLine(out);
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

void ApplyAudioFormat(const WavPcmFormat& format, const std::string& inputName,
                      Corvida::IPellionAudioEmbedder& embedder,
                      CorvidaUtils::ExceptionSdk& sdkChecker) {
    Corvida::IEmbedderParameters* parameters = nullptr;
    sdkChecker.CheckResult(embedder.GetEmbedderParameters(&parameters),
                           "Get Embedder Parameters failed");
    // A library that reports success without handing out its parameters object.
    sdkChecker.CheckResult(parameters != nullptr ? 0 : 2, "Get Embedder Parameters failed");
    const int32_t bits = parameters->SetBitsPerSample(static_cast<int32_t>(format.bitsPerSample));
    if (bits != 0 && format.bitsPerSample == 8) {
        sdkChecker.cause = "the embedder takes no 8-bit samples; convert '" + inputName +
                           "' with: sox '" + inputName + "' -b 16 converted.wav";
    }
    sdkChecker.CheckResult(bits, "Set Bits Per Sample failed");
    sdkChecker.CheckResult(parameters->SetChannels(static_cast<int32_t>(format.nbChannels)),
                           "SetChannels failed");
}

void ApplyRecordDirectory(const CommonSettings& settings, Corvida::IPellionAudioEmbedder& embedder,
                          CorvidaUtils::ExceptionSdk& sdkChecker) {
    if (!settings.recordDirectory) return;
    const std::string& directory = *settings.recordDirectory;
    const int32_t enabled = embedder.EnableRecord(directory.c_str());
    if (enabled != 0) {
        // The library gives no reason; the directory itself usually tells it.
        struct stat status {};
        const bool exists = stat(directory.c_str(), &status) == 0;
        const int statError = errno;
        const bool writable = exists && access(directory.c_str(), W_OK | X_OK) == 0;
        const int accessError = errno;
        if (!exists) {
            sdkChecker.cause =
                statError == ENOENT
                    ? "the record directory '" + directory + "' does not exist"
                    : SystemCause("cannot reach the record directory '" + directory + "'",
                                  statError);
        } else if (!S_ISDIR(status.st_mode)) {
            sdkChecker.cause = "the record directory '" + directory + "' is not a directory";
        } else if (!writable) {
            sdkChecker.cause = SystemCause(
                "cannot write in the record directory '" + directory + "'", accessError);
        }
    }
    sdkChecker.CheckResult(enabled, "EnableRecord failed");
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
