#include "e2e_embedder_support.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "pellion_audio_embedder.h"

ProcessOptions EmbedderOptions(const WorkDir& dir, std::vector<std::string> args,
                               const std::string& faults) {
    ProcessOptions options;
    options.args = std::move(args);
    options.env = StandinEnv(TracePath(dir), faults);
    options.stdinDevNull = true;
    options.timeout = std::chrono::milliseconds(20000);
    return options;
}

std::string TracePath(const WorkDir& dir) {
    return dir.path("trace.txt");
}

EmbedderRun RunEmbedder(const WorkDir& dir, const ProcessOptions& options) {
    ProcessOptions withInput = options;
    if (!withInput.stdinChunks.empty()) withInput.stdinDevNull = false;
    EmbedderRun run;
    run.process = RunProcess(EmbedderToolPath(), withInput);
    run.trace = ReadLines(TracePath(dir));
    return run;
}

std::vector<std::string> Concat(std::vector<std::string> args,
                                const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

bool EndsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::vector<std::string> StdinFormatArgs(int channels, int bits, const std::string& endianness) {
    return {"--stdin-sampling-rate=48000", "--stdin-nb-channels=" + std::to_string(channels),
            "--stdin-bits-per-sample=" + std::to_string(bits), "--stdin-endianness=" + endianness};
}

std::vector<StdinChunk> StdinAtOnce(const ByteVector& bytes) {
    return {StdinChunk{std::chrono::milliseconds(0), TextOf(bytes)}};
}

bool WaitForTraceOf(ChildProcess& child, const WorkDir& dir, const std::string& operation,
                    std::chrono::milliseconds timeout) {
    return child.PumpUntil([&] { return TraceHas(ReadLines(TracePath(dir)), operation); }, timeout);
}

bool WaitsInCall(pid_t pid, int signalNumber, long call) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc + "/status"), calls(proc + "/syscall");
    std::string line;
    while (std::getline(status, line) && line.rfind("SigCgt:", 0) != 0) {
    }
    // A thread that runs reads "running"; one stopped outside a system call, -1.
    long number = -1;
    return line.size() > 7 &&
           (std::stoull(line.substr(7), nullptr, 16) >> (signalNumber - 1) & 1) &&
           calls >> number && number == call;
}

std::string VersionLine() {
    const char* version = Corvida::GetVersion();
    return std::string("Pellion Embedding SDK version:") + (version != nullptr ? version : "") +
           "\n";
}

ByteVector ReverseSampleBytes(const ByteVector& samples, int bits) {
    ByteVector reversed = samples;
    const size_t width = static_cast<size_t>(bits / 8);
    for (size_t i = 0; i + width <= reversed.size(); i += width) {
        std::reverse(reversed.begin() + static_cast<std::ptrdiff_t>(i),
                     reversed.begin() + static_cast<std::ptrdiff_t>(i + width));
    }
    return reversed;
}

ByteVector WithoutMarkBigEndian(const ByteVector& samples, int bits) {
    ByteVector cleared = samples;
    const size_t width = static_cast<size_t>(bits / 8);
    for (size_t i = 0; i + width <= cleared.size(); i += width) cleared[i + width - 1] &= 0xFE;
    return cleared;
}

ByteVector BytesOf(const std::string& text) {
    return ByteVector(text.begin(), text.end());
}

std::string TextOf(const ByteVector& bytes) {
    return std::string(bytes.begin(), bytes.end());
}
