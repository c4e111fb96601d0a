// An embedder for in-process tests of the run: it records each call by name, answers with
// the result scripted for it (0 by default), and hands every block it takes straight back to
// the listener, unchanged.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "pellion_audio_embedder.h"

class FakeEmbedder : public Corvida::IPellionAudioEmbedder, Corvida::IEmbedderParameters {
public:
    FakeEmbedder(Corvida::IEmbedderListener* listener, std::map<std::string, int32_t> results,
                 std::vector<std::string>& calls)
        : listener_(listener), results_(std::move(results)), calls_(calls) {}

    int32_t Initialize() override { return Call("Initialize"); }
    int32_t Finalize() override { return Call("Finalize"); }
    int32_t FinalizeWithReport(const char** report) override {
        *report = nullptr;
        return Call("FinalizeWithReport");
    }
    int32_t AddAudioBuffer(const uint8_t* data, uint64_t size, uint64_t* timestamp) override {
        const int32_t result = Call("AddAudioBuffer");
        if (result != 0) return result;
        std::vector<uint8_t> block(data, data + size);
        listener_->OnAudioBuffer(block.data(), block.size(), timestamp);
        return 0;
    }
    int32_t EnableRecord(const char*) override { return Call("EnableRecord"); }
    int32_t GetEmbedderParameters(Corvida::IEmbedderParameters** parameters) override {
        *parameters = this;
        return Call("GetEmbedderParameters");
    }
    int32_t AddMetadata(const char*) override { return Call("AddMetadata"); }
    int32_t SetBitsPerSample(int32_t) override { return Call("SetBitsPerSample"); }
    int32_t SetChannels(int32_t) override { return Call("SetChannels"); }
    int32_t GetChannelCount(uint64_t* count) override {
        *count = 1;
        return Call("GetChannelCount");
    }
    int32_t GetChannelNameList(const char* const** names, const int64_t** ids,
                               uint64_t* count) override {
        static const char* const kNames[] = {"FAKE-A"};
        static const int64_t kIds[] = {1};
        *names = kNames;
        *ids = kIds;
        *count = 1;
        return Call("GetChannelNameList");
    }
    int32_t SetChannelName(const char*) override { return Call("SetChannelName"); }
    int32_t ResynchronizeTimecode() override { return Call("ResynchronizeTimecode"); }
    int32_t SetThreadCPUAffinity(int64_t) override { return Call("SetThreadCPUAffinity"); }
    int32_t SetThreadPriority(int32_t, int32_t) override { return Call("SetThreadPriority"); }
    int32_t SetJobReportDirectory(const char*) override { return Call("SetJobReportDirectory"); }
    int32_t GetJobReport(const char** report) override {
        *report = nullptr;
        return Call("GetJobReport");
    }
    int32_t SendJobReport(const char*) override { return Call("SendJobReport"); }

private:
    int32_t Call(const std::string& name) {
        calls_.push_back(name);
        const auto scripted = results_.find(name);
        return scripted != results_.end() ? scripted->second : 0;
    }

    Corvida::IEmbedderListener* const listener_;
    const std::map<std::string, int32_t> results_;
    std::vector<std::string>& calls_;
};
