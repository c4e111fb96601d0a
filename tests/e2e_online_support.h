// A scratch job for end-to-end runs of pellion-embed-online: an input WAV file, a metadata
// file, the account options, and the stand-in's trace of each run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"

constexpr char kOnlineLogin[] = "jobs@studio";
constexpr char kOnlinePassword[] = "Zq7-hidden-pw";
constexpr char kDefaultMetadata[] = "{\"title\":\"Evening news\",\"episode\":12}";

class OnlineJob {
public:
    // 4800 frames (0.1 s) of 16-bit stereo test samples at 48000 Hz.
    OnlineJob();
    OnlineJob(const OnlineJob&) = delete;
    OnlineJob& operator=(const OnlineJob&) = delete;

    std::string path(const std::string& name) const { return dir_.path(name); }
    const std::string& input() const { return input_; }
    const std::string& output() const { return output_; }
    const std::string& metadata() const { return metadata_; }
    const ByteVector& samples() const { return samples_; }

    // Replaces the input file with these samples in a plain WAV file.
    void SetInput(int channels, int bits, const ByteVector& samples, uint32_t rate = 48000);
    // Replaces the metadata file.
    void SetMetadata(const ByteVector& bytes) const;

    // Input, output, the three mandatory options, then `extra`; an option of `extra` with the
    // name of a mandatory one takes its place.
    std::vector<std::string> Args(const std::vector<std::string>& extra = {}) const;
    ProcessOptions Options(const std::vector<std::string>& args,
                           const std::string& faults = "") const;

    // Runs the tool with Args(extra) after removing the trace of any earlier run.
    ProcessResult Run(const std::vector<std::string>& extra = {},
                      const std::string& faults = "") const;
    ProcessResult RunWith(const std::vector<std::string>& args,
                          const std::string& faults = "") const;

    std::vector<std::string> Trace() const { return ReadLines(trace_); }
    void ClearTrace() const;

    // Pumps `child` until the trace satisfies `ready` or `limit` has passed; tells which.
    bool WaitForTrace(ChildProcess& child,
                      const std::function<bool(const std::vector<std::string>&)>& ready,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

private:
    WorkDir dir_;
    std::string input_;
    std::string output_;
    std::string metadata_;
    std::string trace_;
    ByteVector samples_;
};

// The whitespace-separated fields of a trace line after the operation name.
std::vector<std::string> TraceFields(const std::string& line);

// The lines of a console text, split at line feeds and carriage returns.
std::vector<std::string> ConsoleLines(const std::string& text);
// The last line of a console text that is not empty (the result line of a run).
std::string LastConsoleLine(const std::string& text);
