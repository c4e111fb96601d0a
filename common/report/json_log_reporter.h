// A log for machines: one JSON object per line and per event, on standard error, each with its
// time (UTC, RFC 3339 with milliseconds), the program and the event, and the event's fields
// under camelCase keys: "start", "channels", "message", "warning", "note", "progress" (about
// once a second of wall time), "stall" and, last, "result".
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

#include "run_reporter.h"

class JsonLogReporter : public RunReporter {
public:
    JsonLogReporter(std::ostream& out, std::string program)
        : out_(out), program_(std::move(program)) {}

    void Started(const RunStart& start) override;
    void InputOpened(const std::string& name, const WavPcmFormat& format) override;
    void Channels(const std::vector<ReportedChannel>& channels) override;
    void LibraryMessage(int32_t level, int32_t code, const char* text) override;
    void BlockReturned(std::optional<uint64_t>) override {}
    void Progress(const RunProgress& progress) override;
    void InputStalled(double seconds, bool resumed) override;
    void Warning(const std::string& text) override;
    void Note(const std::string& text) override;
    void Ended(const RunEnd& end) override;

private:
    // The start event, once, with the input's format where it is known.
    void EmitStart(const WavPcmFormat* format);
    // Writes the event's object, its fields (each `,"key":value`) after the common ones.
    void Emit(const char* event, const std::string& fields);

    std::ostream& out_;
    const std::string program_;
    std::mutex mutex_;
    RunStart start_;
    bool started_ = false;  // a run began: its result follows its start
    bool startEmitted_ = false;
    std::chrono::steady_clock::time_point lastProgress_ = std::chrono::steady_clock::now();
};

// `text` as a JSON string, quotes included; bytes that are no UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);
