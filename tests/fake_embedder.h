// An embedder for in-process tests of the run: it records each call by name, answers with
// the result scripted for it (0 by default; "Name" for every call, "Name@N" for the Nth),
// sends the messages scripted for a call to the listener, and hands every block it takes back
// to the listener unchanged, holding the last `holdBack` blocks until it is finalised or
// destroyed, as a real embedder does.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "pellion_audio_embedder.h"

struct FakeScript {
    std::map<std::string, int32_t> results;
    std::map<std::string, std::vector<Corvida::EmbedderMessage>> messages;
    size_t holdBack = 0;
};

class FakeEmbedder : public Corvida::IPellionAudioEmbedder, Corvida::IEmbedderParameters {
public:
    FakeEmbedder(Corvida::IEmbedderListener* listener, FakeScript script,
                 std::vector<std::string>& calls)
        : listener_(listener), script_(std::move(script)), calls_(calls) {}
    // Blocks not yet handed back come back now.
    ~FakeEmbedder() override { HandBack(0); }

    int32_t Initialize() override { return Call("Initialize"); }
    int32_t Finalize() override {
        const int32_t result = Call("Finalize");
        if (result == 0) HandBack(0);
        return result;
    }
    int32_t FinalizeWithReport(const char** report) override {
        *report = nullptr;
        const int32_t result = Call("FinalizeWithReport");
        if (result == 0) HandBack(0);
        return result;
    }
    int32_t AddAudioBuffer(const uint8_t* data, uint64_t size, uint64_t* timestamp) override {
        const int32_t result = Call("AddAudioBuffer");
        if (result != 0) return result;
        held_.push_back({std::vector<uint8_t>(data, data + size), timestamp});
        HandBack(script_.holdBack);
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
    struct Block {
        std::vector<uint8_t> bytes;
        uint64_t* timestamp;
    };

    int32_t Call(const std::string& name) {
        calls_.push_back(name);
        const size_t number = ++counts_[name];
        for (const Corvida::EmbedderMessage& message : script_.messages[name]) {
            listener_->OnMessage(message);
        }
        const auto nth = script_.results.find(name + "@" + std::to_string(number));
        if (nth != script_.results.end()) return nth->second;
        const auto every = script_.results.find(name);
        return every != script_.results.end() ? every->second : 0;
    }
    // Hands back all but the last `keep` blocks.
    void HandBack(size_t keep) {
        while (held_.size() > keep) {
            Block& block = held_.front();
            listener_->OnAudioBuffer(block.bytes.data(), block.bytes.size(), block.timestamp);
            held_.pop_front();
        }
    }

    Corvida::IEmbedderListener* const listener_;
    FakeScript script_;
    std::vector<std::string>& calls_;
    std::map<std::string, size_t> counts_;
    std::deque<Block> held_;
};
