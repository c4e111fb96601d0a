// The steps both programs take, each on the run's state: each main lists them in the order
// of its run and adds its own. A failing step throws (a CodeException with its result code
// and context message, EndWithoutResultLine, or StopBeforeAudio); RunSteps catches it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "audio_buffer.h"
#include "listener_output.h"
#include "pellion_audio_embedder.h"
#include "run_state.h"
#include "stop_signal.h"
#include "timecode_keeper.h"
#include "wav_pcm_muxer.h"

// Blocks of 512 sample frames go to the embedder.
constexpr int64_t kFramesPerBlock = 512;

// Runs `steps` (a run's command line, set-up and feeding) and turns whatever they throw into
// the run's result. Returns the exit status of a run that ends without a result line.
template <typename Steps>
std::optional<int> RunSteps(RunState& run, Steps&& steps) {
    std::optional<int> exitStatus;
    CorvidaUtils::RunCatchingErrors(
        [&] {
            try {
                steps();
            } catch (const EndWithoutResultLine& end) {
                exitStatus = end.exitStatus;
            } catch (const StopBeforeAudio&) {
                // The end of the run tells a stop before the first block by itself.
            }
        },
        run.result);
    return exitStatus;
}

// After the tool's settings reader: "-h" has printed the usage text and ends the run.
void EndIfHelpWasAsked(RunState& run);

// Every allocation of a run that fails ends it the same way, with code 5 and `context`
// (a std::bad_alloc reaching RunSteps does too). Objects made before the first line is
// printed end the run with status 5 and no line at all.
void CheckAllocated(RunState& run, bool allocated, const std::string& context);
void EndRunUnlessMade(const void* object);

void CreateClock(RunState& run);
// The WAV input: the reader is made, told to give up its walk through the file when a stop
// signal arrives, and opened.
void OpenWavInput(RunState& run, const std::string& path);
void PrintInputLine(std::ostream& out, const RunState& run, const std::string& inputName);
void CheckSamplingRate(RunState& run);
// Opening the output would destroy the input if they were one file.
void CheckOutputIsNotInput(RunState& run, const std::string& inputFile,
                           const std::string& outputFile);

// The listener's Open result: an output another run is writing, or any other failure.
void CheckListenerOpened(RunState& run, int32_t opened);

// Claims the output through the listener. What a WAV input holds besides its audio goes on to
// a WAV output.
template <typename Listener>
void OpenOutput(RunState& run, Listener& listener, const std::string& outputFile) {
    if (run.reader) listener.SetCarriedItems(run.reader->CarriedItems());
    const int32_t opened =
        listener.Open(outputFile.c_str(), static_cast<int32_t>(run.format.samplingRate),
                      static_cast<int32_t>(run.format.nbChannels),
                      static_cast<int32_t>(run.format.bitsPerSample));
    CheckListenerOpened(run, opened);
    ThrowIfStopRequested();
}

// The result of the library's Create function, then the embedder it handed out: a library
// that reports success without one is refused like a null pointer.
Corvida::IPellionAudioEmbedder& CreatedEmbedder(RunState& run, int32_t created);

void Initialize(RunState& run);
void AllocateSampleBuffer(RunState& run);

// Before the block loop: from here on a stop signal ends the feeding between two blocks, and
// no call is cut short by it.
void StartFeeding();

// False once a stop signal has arrived: the feeding then ends as at the end of the input.
bool FeedingGoesOn(RunState& run);

// The next block of the WAV input, into the sample buffer; `frameCount` frames are asked for
// and the whole frames delivered are left in it. False at the end of the data, and when a
// read brings no whole frame.
bool ReadWavBlock(RunState& run, int64_t& frameCount, uint64_t& mediaTime);

// Waits until the block read is due, then keeps the embedder's time code in step. Returns the
// block's wall time, for the keeper after the block.
int64_t WaitForBlock(RunState& run, TimecodeKeeper& timecode, uint64_t mediaTime);

// The block as the embedder takes it: 24-bit samples as 32-bit words, in the widening buffer;
// other widths as they are.
const AudioBuffer& BlockForEmbedder(RunState& run);

// Before the first block goes to the embedder: the WAV output's header is put in place, so
// that from here on the output path holds this run's WAV file, whatever ends the run. Not
// earlier: until audio flows, a stop leaves an existing output as it was.
void StartOutput(RunState& run, ListenerOutput& output, const char* context);

// Hands the block to the embedder. The timestamp travels with it and comes back with the
// watermarked audio to the listener, which frees it; a refused block leaves it here.
template <typename Timestamp>
void AddBlock(RunState& run, const AudioBuffer& block, Timestamp timestamp,
              const std::string& context) {
    const int32_t added = run.embedder->AddAudioBuffer(block.data, block.size, timestamp.get());
    if (added == 0) static_cast<void>(timestamp.release());
    run.check.library.CheckResult(added, context);
    ++run.fed.blocks;
    run.fed.bytes += run.samples.buffer.size;
}

// Lost output is a failure of the run, not something to report as a success: checked after
// every block, so that feeding stops at once, and at the end.
void CheckOutput(RunState& run, const ListenerOutput& output, const char* context);
