// The run of either program as one function: from the open input to the result line. Each
// program's main reads its command line, makes the source, the sink and the reporter,
// describes what its run does differently (RunProgram), and calls RunEmbedding; tests call it
// with a fake embedder and a reporter that records.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "audio_sink.h"
#include "audio_source.h"
#include "common_settings.h"
#include "kept_texts.h"
#include "pellion_audio_embedder.h"
#include "run_reporter.h"
#include "service_notifier.h"
#include "status.h"

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
    // Then, still before the output is claimed: what the program needs from elsewhere (the
    // online tool's password file), so that a failure leaves the output as it was.
    std::function<void(RunReporter& reporter)> beforeOutput;
    // Right after the embedder is made, before its settings.
    std::function<void(Corvida::IPellionAudioEmbedder&)> beforeSettings;
    // After the audio format: select a channel, or show the channels.
    std::function<void(Corvida::IPellionAudioEmbedder&, RunReporter& reporter)> chooseChannel;
    // Ends the job; a library code other than 0 fails the run ("Error finalizing embedder.").
    std::function<int32_t(Corvida::IPellionAudioEmbedder&)> endJob;

    // What the start of a machine's log says of the run: versions, output, options.
    RunStart start;
    // Where set, a call into the embedder that fails while the audio flows does not end the
    // run: the audio goes on unmarked (see bypass_gate.h), and the embedder is set up again
    // this many seconds later, and again as long as that fails. The run's result is still
    // the first failure.
    std::optional<double> bypassRearmSeconds;
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
    // Waits until a block's media time is due (100 ns ticks); tells how late it returned.
    std::function<std::optional<int64_t>(int64_t mediaTime)> waitUntil;
    // Told when the run is ready, how it goes, and when it stops; none when null.
    ServiceNotifier* notifier = nullptr;
};

// How a run ended: its result, also when the result line says so only in part.
struct RunOutcome {
    CorvidaUtils::Status result;  // code, context and the system's cause
    int exitStatus = 0;
    bool interrupted = false;
    uint64_t framesWritten = 0;
};

// Runs the job from `source` to `sink`, telling `reporter` what happens, and ends it with its
// result.
RunOutcome RunEmbedding(const CommonSettings& settings, const RunProgram& program,
                        AudioSource& source, AudioSink& sink, RunReporter& reporter,
                        const RunEnvironment& environment);
