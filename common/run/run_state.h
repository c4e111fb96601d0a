// What one run of either program owns, in a plain record that the steps of the run
// (run_steps.h) work on, from the command line to the result line.
//
// The listener is not part of it: the embedder calls the listener until it is destroyed, so
// each main declares its listener before the run state, which destroys the embedder first.
#pragma once

#include <cstdint>

#include "argument_store.h"
#include "audio_buffer.h"
#include "code_exception.h"
#include "pellion_audio_embedder.h"
#include "rendering_clock.h"
#include "result_report.h"
#include "scoped_object.h"
#include "wav_pcm_format.h"
#include "wav_pcm_parser.h"

// One checker per component, each turning that component's result codes into general ones.
struct Checkers {
    CorvidaUtils::CodeException plain;  // the programs' own conditions and codes
    CorvidaUtils::ExceptionWavParser reader;
    CorvidaUtils::ExceptionWavMuxer writer;  // also the listener's Open
    CorvidaUtils::ExceptionSdk library;
};

// How far the feeding got, and how it ended.
struct FeedProgress {
    uint64_t blocks = 0;  // blocks the embedder has taken
    uint64_t bytes = 0;   // their sample bytes
    bool endOfInput = false;
    bool stopped = false;  // a stop signal ended the feeding
};

// A run that ends without a result line: "-h" (0), or a clock or reader that cannot be made
// (5). Thrown by the step that finds it; the exit status is the run's last word.
struct EndWithoutResultLine {
    int exitStatus;
};

struct RunState {
    RunState(int argc, char** argv) : argc(argc), argv(argv) {}
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    const int argc;
    char** const argv;
    ArgumentStore store;
    Checkers check;

    ScopedObject<IRenderingClock, DestroyRenderingClock> clock;
    ScopedObject<IWavPcmParser, DestroyWavPcmParser> reader;  // null for standard input
    ScopedObject<Corvida::IPellionAudioEmbedder, Corvida::DestroyPellionAudioEmbedder> embedder;
    WavPcmFormat format;
    ScopedAudioBuffer samples;
    ScopedAudioBuffer widened;  // 24-bit samples as 32-bit words, for the embedder

    bool initialized = false;  // Initialize succeeded: the job must be ended
    FeedProgress fed;
    CorvidaUtils::RunResult result;
};
