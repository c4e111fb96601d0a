#include "embedder_setup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "system_cause.h"

using CorvidaUtils::Raise;
using CorvidaUtils::Status;
using CorvidaUtils::ThrowIfFailed;

std::string LibraryVersion() {
    const char* version = Corvida::GetVersion();
    return version != nullptr ? version : "";
}

void ApplyThreadSettings(const CommonSettings& settings, Corvida::IPellionAudioEmbedder& embedder) {
    if (settings.affinityMask) {
        const auto mask = static_cast<int64_t>(static_cast<int32_t>(*settings.affinityMask));
        ThrowIfFailed(Status::FromLibrary(embedder.SetThreadCPUAffinity(mask),
                                          "Set Thread CPU Affinity failed"));
    }
    if (settings.threadPriority) {
        ThrowIfFailed(
            Status::FromLibrary(embedder.SetThreadPriority(settings.threadPriority->policy,
                                                           settings.threadPriority->priority),
                                "Set Thread Priority failed"));
    }
}

void ApplyAudioFormat(const WavPcmFormat& format, const std::string& inputName,
                      Corvida::IPellionAudioEmbedder& embedder) {
    Corvida::IEmbedderParameters* parameters = nullptr;
    ThrowIfFailed(Status::FromLibrary(embedder.GetEmbedderParameters(&parameters),
                                      "Get Embedder Parameters failed"));
    // A library that reports success without handing out its parameters object.
    if (parameters == nullptr) Raise(Status::FromLibrary(2, "Get Embedder Parameters failed"));
    const int32_t bits = parameters->SetBitsPerSample(static_cast<int32_t>(format.bitsPerSample));
    if (bits != 0) {
        Status failed = Status::FromLibrary(bits, "Set Bits Per Sample failed");
        if (format.bitsPerSample == 8) {
            failed = std::move(failed).WithCause("the embedder takes no 8-bit samples; convert '" +
                                                 inputName + "' with: sox '" + inputName +
                                                 "' -b 16 converted.wav");
        }
        Raise(std::move(failed));
    }
    ThrowIfFailed(Status::FromLibrary(
        parameters->SetChannels(static_cast<int32_t>(format.nbChannels)), "SetChannels failed"));
}

namespace {

// The library gives no reason why a record directory is refused; the directory itself
// usually tells it.
std::string RecordDirectoryCause(const std::string& directory) {
    struct stat status {};
    const bool exists = stat(directory.c_str(), &status) == 0;
    const int statError = errno;
    const bool writable = exists && access(directory.c_str(), W_OK | X_OK) == 0;
    const int accessError = errno;
    if (!exists) {
        return statError == ENOENT
                   ? "the record directory '" + directory + "' does not exist"
                   : SystemCause("cannot reach the record directory '" + directory + "'",
                                 statError);
    }
    if (!S_ISDIR(status.st_mode)) {
        return "the record directory '" + directory + "' is not a directory";
    }
    if (!writable) {
        return SystemCause("cannot write in the record directory '" + directory + "'", accessError);
    }
    return "";
}

}  // namespace

void ApplyRecordDirectory(const CommonSettings& settings,
                          Corvida::IPellionAudioEmbedder& embedder) {
    if (!settings.recordDirectory) return;
    const std::string& directory = *settings.recordDirectory;
    const int32_t enabled = embedder.EnableRecord(directory.c_str());
    if (enabled != 0) {
        Raise(Status::FromLibrary(enabled, "EnableRecord failed")
                  .WithCause(RecordDirectoryCause(directory)));
    }
}

ChannelList GetChannelList(Corvida::IPellionAudioEmbedder& embedder) {
    ChannelList channels;
    ThrowIfFailed(Status::FromLibrary(
        embedder.GetChannelNameList(&channels.names, &channels.ids, &channels.count),
        "GetChannelNameList failed"));
    return channels;
}

std::vector<ReportedChannel> ReportedChannels(const ChannelList& channels) {
    std::vector<ReportedChannel> reported;
    // Null arrays with a count are the library's fault; show what can be shown.
    if (channels.names == nullptr || channels.ids == nullptr) return reported;
    for (uint64_t i = 0; i < channels.count; ++i) {
        // A null name would put a stream into its failed state and silence the run.
        reported.push_back(
            {channels.names[i] != nullptr ? channels.names[i] : "(null)", channels.ids[i]});
    }
    return reported;
}
