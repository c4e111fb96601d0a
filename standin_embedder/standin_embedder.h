// The stand-in embedder: validates its calls like the closed library, marks the audio it is
// given and hands it back to the listener from a worker thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio_worker.h"
#include "channel_list.h"
#include "embedder_parameters.h"
#include "hooks.h"
#include "pellion_audio_embedder.h"
#include "sample_mark.h"
#include "wav_record.h"

namespace standin {

class StandinEmbedder final : public Corvida::IPellionAudioEmbedder {
public:
    // Local embedders take a channel name; online ones take metadata and end with a report.
    enum class Kind { kLocal, kOnline };

    StandinEmbedder(Kind kind, Corvida::IEmbedderListener* listener, EmbedderSetup setup);
    StandinEmbedder(const StandinEmbedder&) = delete;
    StandinEmbedder& operator=(const StandinEmbedder&) = delete;
    // Audio still held back reaches the listener before this returns.
    ~StandinEmbedder() override;

    Corvida::IEmbedderListener* Listener() const { return listener_; }

    int32_t GetChannelCount(uint64_t* count) override;
    int32_t GetChannelNameList(const char* const** names, const int64_t** ids,
                               uint64_t* count) override;
    int32_t SetChannelName(const char* name) override;

    int32_t ResynchronizeTimecode() override;

    int32_t SetThreadCPUAffinity(int64_t mask) override;
    int32_t SetThreadPriority(int32_t policy, int32_t priority) override;

    int32_t SetJobReportDirectory(const char* directory) override;
    int32_t GetJobReport(const char** report) override;
    int32_t SendJobReport(const char* report) override;

    int32_t Initialize() override;
    int32_t Finalize() override;
    int32_t FinalizeWithReport(const char** report) override;
    int32_t AddAudioBuffer(const uint8_t* data, uint64_t size, uint64_t* timestamp) override;
    int32_t EnableRecord(const char* directory) override;
    int32_t GetEmbedderParameters(Corvida::IEmbedderParameters** parameters) override;
    int32_t AddMetadata(const char* json) override;

private:
    enum class State { kConfiguring, kRunning, kFinished };

    // Runs on the worker thread.
    void Deliver(AudioBlock& block);
    // Delivers everything held back and completes the recording.
    int32_t EndJob();
    std::string BuildJobReport(bool recordComplete) const;
    bool WriteJobReportCopy() const;

    const Kind kind_;
    Corvida::IEmbedderListener* const listener_;
    const std::optional<std::string> failureReport_;
    EmbedderParameters parameters_;
    ChannelList channels_;
    State state_ = State::kConfiguring;
    std::optional<std::string> recordDirectory_;
    std::optional<std::string> jobReportDirectory_;
    std::vector<std::string> metadata_;
    std::size_t sampleBytes_ = 0;
    uint64_t bytesAccepted_ = 0;
    std::optional<std::string> jobReport_;

    // Set up by Initialize before the first block; afterwards used by the worker thread only,
    // until EndJob has flushed it.
    std::optional<SampleMark> mark_;
    std::unique_ptr<WavRecord> record_;

    // Last, so that it is destroyed first: its final deliveries still need everything above.
    AudioWorker worker_;
};

}  // namespace standin
