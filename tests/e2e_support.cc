#include "e2e_support.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "wav_layout.h"

std::vector<std::string> TraceLinesOf(const std::vector<std::string>& lines,
                                      const std::string& operation) {
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line == operation || line.rfind(operation + " ", 0) == 0) found.push_back(line);
    }
    return found;
}

bool TraceHas(const std::vector<std::string>& lines, const std::string& operation) {
    return !TraceLinesOf(lines, operation).empty();
}

std::vector<std::string> TraceOperations(const std::vector<std::string>& lines) {
    std::vector<std::string> operations;
    for (const std::string& line : lines) operations.push_back(line.substr(0, line.find(' ')));
    return operations;
}

uint64_t BytesHandedOver(const std::vector<std::string>& trace) {
    uint64_t total = 0;
    for (const std::string& line : TraceLinesOf(trace, "AddAudioBuffer")) {
        total += std::stoull(line.substr(line.find(' ') + 1));
    }
    return total;
}

ByteVector Prefix(const ByteVector& bytes, size_t size) {
    return ByteVector(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

bool StillRunning(pid_t pid) {
    siginfo_t info{};
    // WNOWAIT leaves the child to be reaped by its runner.
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

std::string FindProgram(const std::string& name) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

std::string JqOfLines(const std::string& filter, const std::string& lines) {
    const std::string jq = FindProgram("jq");
    if (jq.empty()) return "";
    ProcessOptions options;
    options.args = {"-s", "-c", filter};
    options.stdinChunks = {StdinChunk{std::chrono::milliseconds(0), lines}};
    const ProcessResult result = RunProcess(jq, options);
    EXPECT_EQ(result.exitStatus, 0) << result.err << lines;
    return result.out.empty() ? result.out : result.out.substr(0, result.out.size() - 1);
}

long long FramesReadBy(const std::string& tool, const std::string& path) {
    const std::string program = FindProgram(tool);
    if (program.empty()) return -1;
    ProcessOptions options;
    options.stdinDevNull = true;
    options.args = {path};
    if (tool == "sox") options.args = {"--i", "-s", path};
    if (tool == "ffprobe") {
        options.args = {"-v",      "error", "-show_entries", "stream=duration_ts", "-of",
                        "csv=p=0", path};
    }
    const ProcessResult result = RunProcess(program, options);
    if (result.exitStatus != 0) return -2;
    std::string count = result.out;
    if (tool == "sndfile-info") {
        const size_t at = count.find("Frames");
        if (at == std::string::npos) return -2;
        count = count.substr(count.find(':', at) + 1);
    }
    try {
        return std::stoll(count);
    } catch (const std::exception&) {
        return -2;
    }
}

std::vector<std::string> OnlineAccountArgs(const std::string& metadataPath) {
    return {"--login=me", "--password=secret", "--metadataPath=" + metadataPath};
}

std::string InterruptedLine(const std::string& signalName, uint64_t frames) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(frames) / 48000.0);
    return "[INTERRUPTED] Stopped by " + signalName + ". The output holds " + seconds +
           " s of audio (" + std::to_string(frames) + " frames).\n";
}

namespace {

uint16_t LoadU16At(const ByteVector& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

bool HasId(const ByteVector& bytes, size_t offset, const char* id) {
    return bytes.size() >= offset + 4 && std::equal(id, id + 4, bytes.begin() + offset);
}

}  // namespace

WrittenWav ReadWrittenWav(const std::string& path) {
    WrittenWav wav;
    const ByteVector bytes = ReadWholeFile(path);
    // A complete file of any form: chunks kept from the input, a pad byte, RF64.
    const WavLayout layout = ParseWavLayout(bytes);
    const WavChunkView* format = layout.Find("fmt ");
    const WavChunkView* data = layout.Find("data");
    if (layout.problem.empty() && format != nullptr && format->size >= 16 && data != nullptr) {
        wav.valid = true;
        wav.complete = true;
        wav.channels = LoadU16At(format->body, 2);
        wav.rate = LoadU32At(format->body, 4);
        wav.bits = LoadU16At(format->body, 14);
        wav.samples = data->body;
        return wav;
    }
    // Otherwise one of the two bare headers, whose sizes may lag behind the audio.
    if (bytes.size() < 44 || !HasId(bytes, 0, "RIFF") || !HasId(bytes, 8, "WAVE") ||
        !HasId(bytes, 12, "fmt ")) {
        wav.problem = "no WAV header (" + std::to_string(bytes.size()) + " bytes)";
        return wav;
    }
    const uint32_t formatSize = LoadU32At(bytes, 16);
    const size_t header = formatSize == 40 ? 68 : 44;
    if ((formatSize != 16 && formatSize != 40) || bytes.size() < header ||
        !HasId(bytes, header - 8, "data")) {
        wav.problem = "unexpected header layout";
        return wav;
    }
    wav.valid = true;
    wav.channels = LoadU16At(bytes, 22);
    wav.rate = LoadU32At(bytes, 24);
    wav.bits = LoadU16At(bytes, 34);
    wav.samples.assign(bytes.begin() + static_cast<std::ptrdiff_t>(header), bytes.end());
    const uint32_t riffSize = LoadU32At(bytes, 4);
    const uint32_t dataSize = LoadU32At(bytes, header - 4);
    std::ostringstream problem;
    if (dataSize != wav.samples.size()) {
        problem << "data size " << dataSize << " but " << wav.samples.size() << " bytes follow; ";
    }
    if (riffSize != bytes.size() - 8) {
        problem << "RIFF size " << riffSize << " for a file of " << bytes.size() << " bytes";
    }
    wav.problem = problem.str();
    wav.complete = wav.problem.empty();
    return wav;
}

ByteVector WithoutMark(const ByteVector& samples, int bits) {
    ByteVector cleared = samples;
    const size_t width = static_cast<size_t>(bits / 8);
    for (size_t i = 0; i + width <= cleared.size(); i += width) cleared[i] &= 0xFE;
    return cleared;
}

ByteVector TestSamples(size_t frames, int channels, int bits, uint8_t seed) {
    return Pattern(frames * static_cast<size_t>(channels) * static_cast<size_t>(bits / 8), seed);
}

std::map<std::string, std::string> StandinEnv(const std::string& tracePath,
                                              const std::string& faults) {
    std::map<std::string, std::string> env;
    env["PELLION_STANDIN_TRACE"] = tracePath;
    env["PELLION_STANDIN_FAULTS"] = faults;
    return env;
}
