// The run of either program as one function: from the open input to the result line. Each
// program's main reads its command line, makes the source and the sink, describes what its run
// does differently (RunProgram), and calls RunEmbedding; tests call it with a fake embedder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "audio_sink.h"
#include "audio_source.h"
#include "common_settings.h"
#include "embedder_listener.h"
#include "kept_texts.h"
#include "pellion_audio_embedder.h"
#include "result_report.h"
#include "service_notifier.h"

// Blocks of 512 sample frames go to the embedder.
constexpr uint64_t kFramesPerBlock = 512;

// What a program's run does in its own way, as steps and data.
struct RunProgram {
    // Makes the embedder for `listener` through the library (Create...): the library's result.
    std::function<int32_t(Corvida::IEmbedderListener* listener,
                          Corvida::IPellionAudioEmbedder** embedder)>
        create;
    // Destroys what `create` made, and sets the pointer to null.
    int32_t (*destroy)(Corvida::IPellionAudioEmbedder*& embedder) =
        &Corvida::DestroyPellionAudioEmbedder;
    // Once the input is known to be no output, before the output is claimed.
    std::function<void()> checkOutput;
    // Right after the embedder is made, before its settings.
    std::function<void(Corvida::IPellionAudioEmbedder&)> beforeSettings;
    // After the audio format: select a channel, or list the channels on the console.
    std::function<void(Corvida::IPellionAudioEmbedder&, std::ostream& console)> chooseChannel;
    // Ends the job; a library code other than 0 fails the run ("Error finalizing embedder.").
    std::function<int32_t(Corvida::IPellionAudioEmbedder&)> endJob;
    // Prints the usage text, after a command-line error.
    std::function<void(std::ostream&)> printUsage;

    // The program's name, first on the line that gives a failure's cause.
    std::string name;
    // The version line, the input line and "[SUCCESS]"; not in silent mode.
    bool informs = true;
    // The context of a block that the embedder refuses.
    const char* addBufferFailure = kept_text::kAddBufferFailedOnline;
    // The context of a block timestamp that cannot be allocated.
    const char* timestampFailure = "";
};

// What the process gives a run.
struct RunEnvironment {
    bool (*stopRequested)() = nullptr;
    // The first stop signal's number.
    int (*stopSignal)() = nullptr;
    // Before the first block: from here on a stop signal no longer cuts calls short.
    void (*feedingStarts)() = nullptr;
    // Waits until a block's media time is due (100 ns ticks).
    std::function<void(int64_t mediaTime)> waitUntil;
    // Told when the run is ready, how it goes, and when it stops; none when null.
    ServiceNotifier* notifier = nullptr;
};

// How a run ended: its result, also when the result line says so only in part.
struct RunOutcome {
    CorvidaUtils::RunResult result;  // code, context and the system's cause
    int exitStatus = 0;
    bool interrupted = false;
    uint64_t framesWritten = 0;
};

// Runs the job from `source` to `sink`, printing on `console`, and ends it with its result line.
RunOutcome RunEmbedding(const CommonSettings& settings, const RunProgram& program,
                        AudioSource& source, AudioSink& sink, std::ostream& console,
                        const ListenerStyle& style, const RunEnvironment& environment);
