// Where the audio of a run comes from: a WAV file, or raw PCM on standard input. A source
// delivers whole frames in the form the embedder takes (24-bit samples widened to 32-bit
// words, little-endian), and owns everything before that: opening, reading, the partial-frame
// rule, byte order and widening. Its buffers are made once, before the first block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "remarks.h"
#include "wav_carried_items.h"
#include "wav_pcm_format.h"

// What the input is on the machine, so that an output can tell whether it would overwrite it.
struct InputIdentity {
    std::string path;     // a named file, or empty
    int descriptor = -1;  // standard input, or -1
};

// One block of whole frames, in the embedder's form.
struct AudioBlock {
    const uint8_t* data = nullptr;
    uint64_t size = 0;       // bytes handed to the embedder
    uint64_t inputSize = 0;  // the bytes they were read as
    // The media time after the block (100 ns ticks), for an input that is played at its own
    // pace; none for a live stream, which comes as fast as it comes.
    std::optional<uint64_t> mediaTime;
};

// kWaiting: a live input has sent nothing for over a second; the read may be tried again.
enum class ReadOutcome { kBlock, kEnd, kStopped, kWaiting };

class AudioSource {
public:
    virtual ~AudioSource() = default;

    // Opens the input and learns its format. Raises a CodeException.
    virtual void Open() = 0;
    const WavPcmFormat& Format() const { return format_; }
    // How the input line names the input.
    virtual std::string Name() const = 0;
    virtual InputIdentity Identity() const = 0;
    // What the input holds besides its audio, for a WAV output to carry on; nothing for raw
    // input.
    virtual WavCarriedItems TakeCarriedItems() { return WavCarriedItems(); }
    // The run holds each block until its media time is due (a live stream's blocks, which
    // have none, pass at once). A file fed as fast as the embedder takes it is not paced; its
    // blocks still carry their media time.
    virtual bool Paced() const { return true; }
    // Makes the buffers for blocks of `frames` frames. Raises code 5 with what was allocated.
    void Prepare(uint64_t frames);
    // The bytes of one frame in the form the embedder takes (24-bit samples as 32-bit words).
    uint64_t EmbedderFrameBytes() const {
        return format_.nbChannels * (format_.bitsPerSample == 24 ? 4 : format_.bitsPerSample / 8);
    }
    // The next block: kEnd at the end of the input, kStopped when a stop signal ended a read
    // that brought nothing, kWaiting when a live input has sent nothing for over a second.
    // Raises a CodeException on a read error.
    virtual ReadOutcome Read(AudioBlock& block) = 0;
    // The warnings and notes about the input since they were last taken, for the run to
    // report.
    Remarks TakeRemarks() { return std::move(remarks_); }
    // Read raised because the input is not what the command line said, before any of it was
    // fed: the run leaves the output as it found it.
    virtual bool Refused() const { return false; }

protected:
    uint64_t FrameBytes() const { return format_.nbChannels * (format_.bitsPerSample / 8); }
    // Fills `block` from the first `bytes` of the read buffer, widening 24-bit samples.
    void Deliver(uint64_t bytes, AudioBlock& block);

    void Warn(std::string text) { remarks_.push_back(Remark{true, std::move(text)}); }
    void Note(std::string text) { remarks_.push_back(Remark{false, std::move(text)}); }

    WavPcmFormat format_;
    std::vector<uint8_t> samples_;  // as read
    std::vector<uint8_t> widened_;  // 24-bit samples as 32-bit words

private:
    uint64_t framesPerBlock_ = 0;
    Remarks remarks_;
};
