// Helpers of the end-to-end tests: a scratch directory, the stand-in's hooks, and checks of
// the WAV files the programs write.
#pragma once

#include <sys/types.h>
#include <cstdint>

#include <map>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_files.h"
#include "wav_fixture.h"

// The trace lines whose operation name is `operation`.
std::vector<std::string> TraceLinesOf(const std::vector<std::string>& lines,
                                      const std::string& operation);
bool TraceHas(const std::vector<std::string>& lines, const std::string& operation);
// The operation names of the trace lines, in call order.
std::vector<std::string> TraceOperations(const std::vector<std::string>& lines);

// A WAV file as the programs write it: complete in any form, or with a plain (44-byte) or
// extensible (68-byte) header and sizes that may not cover all that follows.
struct WrittenWav {
    bool valid = false;     // a header of one of the two forms was found
    bool complete = false;  // its RIFF and data sizes match the bytes that follow
    std::string problem;    // why not, for failure messages
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    ByteVector samples;
};
WrittenWav ReadWrittenWav(const std::string& path);

// Samples of `bits` (16, 24 or 32) little-endian, with the least significant bit of every
// sample cleared: the stand-in sets that bit as its mark, every other bit must pass.
ByteVector WithoutMark(const ByteVector& samples, int bits);

// Signed little-endian samples that differ from one another in every byte.
ByteVector TestSamples(size_t frames, int channels, int bits, uint8_t seed = 7);

// The result line of a run that `signalName` stopped while its output held `frames` frames
// at 48000 Hz, with its end of line.
std::string InterruptedLine(const std::string& signalName, uint64_t frames);

// The bytes handed to the embedder, summed over a trace's AddAudioBuffer lines.
uint64_t BytesHandedOver(const std::vector<std::string>& trace);

// The first `size` bytes.
ByteVector Prefix(const ByteVector& bytes, size_t size);

// True while the child `pid` has not ended (it is left to its runner to reap).
bool StillRunning(pid_t pid);

// The path of a program found on PATH, or "" (audio tools that some tests read files with).
std::string FindProgram(const std::string& name);

// What jq's `filter` makes of the JSON Lines in `lines`, read as one array (jq -s -c): "" when
// jq is not installed; the test fails when a line is no JSON.
std::string JqOfLines(const std::string& filter, const std::string& lines);

// The frame count a real reader takes from a WAV file: "sox --i -s", ffprobe's duration in
// samples, or libsndfile's "Frames" ("sox", "ffprobe", "sndfile-info"). -1 when the tool is not
// installed, -2 when it could not read the file.
long long FramesReadBy(const std::string& tool, const std::string& path);

// The account options pellion-embed-online needs, with `metadataPath` as its job description.
std::vector<std::string> OnlineAccountArgs(const std::string& metadataPath);

// The environment that points the stand-in at a trace file and fault rules.
std::map<std::string, std::string> StandinEnv(const std::string& tracePath,
                                              const std::string& faults = "");
