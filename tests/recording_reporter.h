// A reporter for in-process tests of the run: it keeps every event as a line of text, in
// order, so that a test can check what a user or a machine would have been told, and when.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "run_reporter.h"

class RecordingReporter : public RunReporter {
public:
    void Started(const RunStart& start) override { Add("started " + start.input); }
    void InputOpened(const std::string& name, const WavPcmFormat&) override {
        Add("input " + name);
    }
    void Channels(const std::vector<ReportedChannel>& channels) override {
        Add("channels " + std::to_string(channels.size()));
    }
    void LibraryMessage(int32_t level, int32_t code, const char* text) override {
        Add("message " + std::to_string(level) + " " + std::to_string(code) + " " +
            (text != nullptr ? text : "(null)"));
    }
    void BlockReturned(std::optional<uint64_t>) override { Add("block"); }
    void Progress(const RunProgress& progress) override {
        Add("progress " + std::to_string(progress.framesRead));
    }
    void InputStalled(double, bool resumed) override { Add(resumed ? "resumed" : "stalled"); }
    void Warning(const std::string& text) override { Add(text); }
    void Note(const std::string& text) override { Add(text); }
    void Ended(const RunEnd& end) override {
        Add("ended " + std::to_string(end.result.code()) + " " + end.result.context() + "|" +
            end.result.cause() + (end.interrupted ? "|interrupted " + end.signalName : ""));
    }

    std::vector<std::string> Lines() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    void Add(std::string line) {
        const std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
    }

    std::mutex mutex_;
    std::vector<std::string> lines_;
};
