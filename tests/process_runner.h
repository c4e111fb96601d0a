// Runs a program as a child process for end-to-end tests: feeds its standard input (at
// once or in timed chunks), collects standard output and standard error, and reports how
// it ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct StdinChunk {
    std::chrono::milliseconds delay{0};  // wait this long after the previous chunk
    std::string bytes;
};

struct ProcessOptions {
    std::vector<std::string> args;           // without argv[0]
    std::optional<std::string> argv0;        // defaults to the program path
    std::map<std::string, std::string> env;  // set on top of the test's environment
    std::vector<std::string> unsetEnv;
    std::vector<StdinChunk> stdinChunks;    // written in order; stdin is closed after the last
    bool stdinDevNull = false;              // stdin is /dev/null instead of a pipe
    std::optional<std::string> stdinFile;   // stdin is this file (or directory) instead
    std::optional<std::string> stdoutFile;  // stdout goes to this file instead of a pipe
    std::chrono::milliseconds timeout{60000};
};

struct ProcessResult {
    int exitStatus = -1;  // -1 when ended by a signal
    int signal = 0;       // the terminating signal, or 0
    bool timedOut = false;
    long peakMemoryKiB = 0;  // the child's peak resident memory
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    ChildProcess(const std::string& program, const ProcessOptions& options);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    void Signal(int signalNumber) const;
    // Pumps input and output for at most `duration`, or until the process has ended.
    void PumpFor(std::chrono::milliseconds duration);
    // Pumps until `ready` holds (true) or `timeout` passes; each look follows a pump, so that
    // input due by then has been written.
    bool PumpUntil(const std::function<bool()>& ready,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    // The next chunk of standard input is due now, whatever its delay.
    void FeedNextChunkNow() { nextChunkAt_ = std::chrono::steady_clock::now(); }
    // Pumps until the process ends (killing it at the timeout) and returns how it ended.
    ProcessResult Finish();

private:
    bool Pump(std::chrono::steady_clock::time_point until);

    const ProcessOptions options_;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    size_t chunkIndex_ = 0;
    size_t chunkOffset_ = 0;
    std::chrono::steady_clock::time_point nextChunkAt_;
    std::chrono::steady_clock::time_point deadline_;
    bool exited_ = false;
    ProcessResult result_;
};

ProcessResult RunProcess(const std::string& program, const ProcessOptions& options);

// Paths of the built programs and library.
std::string EmbedderToolPath();        // bin/pellion-embed
std::string OnlineEmbedderToolPath();  // bin/pellion-embed-online
