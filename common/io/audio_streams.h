// The one place that decides which kind of source and sink a run has, from what the command
// line said; nothing downstream asks again.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "audio_sink.h"
#include "audio_source.h"
#include "wav_pcm_format.h"

struct StreamSettings {
    std::string inputFile;   // a WAV file, unless the input is raw
    std::string outputFile;  // a WAV file ("-": on standard output), unless the output is raw
    // Raw PCM on standard input, in this format.
    std::optional<WavPcmFormat> rawInput;
    // Raw PCM on standard output.
    bool rawOutput = false;
    // Raw samples in and out are big-endian.
    bool bigEndian = false;
    // A WAV input is fed at the pace of real time; raw input always comes as it comes.
    bool paced = true;
};

// The output goes to the file standard output is open on (raw output, "-", or a name of that
// file such as /dev/stdout): standard output then carries the audio and nothing else, and the
// run's lines go to standard error.
bool OutputIsStandardOutput(const StreamSettings& settings);

struct AudioStreams {
    std::unique_ptr<AudioSource> source;
    std::unique_ptr<AudioSink> sink;
};

// `stopRequested` lets a source give up a read or a walk, and a stalled sink give up its
// writes, once a stop signal has come.
AudioStreams MakeAudioStreams(const StreamSettings& settings, bool (*stopRequested)());
