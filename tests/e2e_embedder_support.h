// Running pellion-embed against the stand-in library in end-to-end tests, and the byte-order
// helpers its raw streams need.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "process_runner.h"
#include "wav_fixture.h"

// Options for a run of pellion-embed: the stand-in traces into TracePath(dir) and applies
// `faults`; standard input is /dev/null unless the test gives chunks.
ProcessOptions EmbedderOptions(const WorkDir& dir, std::vector<std::string> args,
                               const std::string& faults = "");
std::string TracePath(const WorkDir& dir);

struct EmbedderRun {
    ProcessResult process;
    std::vector<std::string> trace;
};
EmbedderRun RunEmbedder(const WorkDir& dir, const ProcessOptions& options);

// `args` followed by `more`.
std::vector<std::string> Concat(std::vector<std::string> args,
                                const std::vector<std::string>& more);

bool EndsWith(const std::string& text, const std::string& ending);

// The four options that describe raw PCM on standard input at 48000 Hz.
std::vector<std::string> StdinFormatArgs(int channels, int bits, const std::string& endianness);

// Standard input given all at once, closed after it.
std::vector<StdinChunk> StdinAtOnce(const ByteVector& bytes);

// Pumps `child` until the trace in `dir` shows `operation`, or `timeout` passes. True when
// it was seen.
bool WaitForTraceOf(ChildProcess& child, const WorkDir& dir, const std::string& operation,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// True while the main thread of `pid` sleeps in system call `call` (SYS_read, ...) with a
// handler for `signalNumber` in place: a signal sent then finds the program waiting where the
// test means, not still starting or on its way there.
bool WaitsInCall(pid_t pid, int signalNumber, long call);

// The version line the program prints when not silent.
std::string VersionLine();

// Each sample (16, 24 or 32 bits) with its bytes in reverse order: little-endian samples
// become big-endian ones and back.
ByteVector ReverseSampleBytes(const ByteVector& samples, int bits);

// Big-endian samples with the least significant bit of each (in its last byte) cleared.
ByteVector WithoutMarkBigEndian(const ByteVector& samples, int bits);

ByteVector BytesOf(const std::string& text);
std::string TextOf(const ByteVector& bytes);
