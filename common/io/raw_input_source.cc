#include "raw_input_source.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "code_exception.h"
#include "result_codes.h"
#include "riff.h"
#include "sample_conversion.h"
#include "system_cause.h"

namespace {

constexpr size_t kBufferBytes = 64 * 1024;
// How long a live input may send nothing before the run is told.
constexpr std::chrono::seconds kStallAfter{1};

constexpr char kWavOnRawInput[] =
    "standard input holds a WAV stream, not raw PCM; give it as the input file instead, without "
    "the --stdin- options: pellion-embed - outputFile";

// A WAV header read as samples would be embedded as a burst of noise, and the stream's format
// taken from the command line instead of from the header.
bool BeginsAsWav(const uint8_t* bytes, uint64_t size) {
    if (size < 12 || LoadU32(bytes + 8) != FourCc("WAVE")) return false;
    const uint32_t form = LoadU32(bytes);
    return form == FourCc("RIFF") || form == FourCc("RF64") || form == FourCc("RIFX");
}

}  // namespace

RawInputSource::RawInputSource(const WavPcmFormat& format, bool bigEndian, bool (*stopRequested)())
    : bigEndian_(bigEndian), stopRequested_(stopRequested) {
    format_ = format;
}

void RawInputSource::Open() {
    buffer_.resize(kBufferBytes);
    waitingSince_ = std::chrono::steady_clock::now();
}

bool RawInputSource::Fill(std::chrono::steady_clock::time_point patience) {
    while (!ended_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            patience - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        // A stop signal ends the wait (poll is never restarted), and points standard input at
        // /dev/null, so that the read that follows finds its end.
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, static_cast<int>(left.count()));
        if (ready == 0) return false;
        if (ready < 0 && errno != EINTR) {
            readError_ = errno;
            ended_ = true;
            return false;
        }
        if (ready < 0) continue;
        const ssize_t n = read(STDIN_FILENO, buffer_.data(), buffer_.size());
        if (n > 0) {
            bufferStart_ = 0;
            bufferEnd_ = static_cast<size_t>(n);
            waitingSince_ = std::chrono::steady_clock::now();
            return true;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) readError_ = errno;
        ended_ = true;
    }
    return false;
}

ReadOutcome RawInputSource::Read(AudioBlock& block) {
    const uint64_t wanted = samples_.size();
    while (gathered_ < wanted && !ended_) {
        if (bufferStart_ == bufferEnd_ && !Fill(waitingSince_ + kStallAfter)) {
            if (ended_ || stopRequested_()) break;
            // Nothing for over a second: the run may tell, then ask again. What has been
            // gathered of the block waits with it.
            waitingSince_ = std::chrono::steady_clock::now();
            return ReadOutcome::kWaiting;
        }
        const size_t taken = std::min<uint64_t>(wanted - gathered_, bufferEnd_ - bufferStart_);
        std::memcpy(samples_.data() + gathered_, buffer_.data() + bufferStart_, taken);
        bufferStart_ += taken;
        gathered_ += taken;
    }
    return HandOver(block);
}

ReadOutcome RawInputSource::HandOver(AudioBlock& block) {
    uint64_t bytes = gathered_;
    gathered_ = 0;
    if (firstRead_) {
        firstRead_ = false;
        refused_ = BeginsAsWav(samples_.data(), bytes);
        if (refused_) {
            CorvidaUtils::Raise(
                CorvidaUtils::Status(CorvidaUtils::kIoError, "Reading error", kWavOnRawInput));
        }
    }
    // Whole frames only: a partial one would fail the embedder, or pass downstream and
    // misalign every later reader of the output.
    const uint64_t frameBytes = FrameBytes();
    const uint64_t partial = frameBytes > 0 ? bytes % frameBytes : 0;
    bytes -= partial;
    const bool stopped = stopRequested_();
    if (stopped) {
        // The signal may have cut the input short in the middle of a frame.
    } else if (readError_ != 0) {
        // Bytes read before the error still make a block; the next read reports it.
        if (bytes == 0) {
            CorvidaUtils::Raise(
                CorvidaUtils::Status(CorvidaUtils::kIoError, "Reading error",
                                     SystemCause("cannot read standard input", readError_)));
        }
    } else if (partial > 0) {
        // A block comes short only at the end of the input.
        Warn("Warning: the input ended inside a frame; its last " + std::to_string(partial) +
             " bytes were dropped");
    }
    if (bytes == 0) return stopped ? ReadOutcome::kStopped : ReadOutcome::kEnd;
    if (bigEndian_) SwapSampleBytes(samples_.data(), bytes, format_.bitsPerSample / 8);
    Deliver(bytes, block);
    return ReadOutcome::kBlock;
}
