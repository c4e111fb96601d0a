#include "raw_input_source.h"

#include <cerrno>
#include <iostream>

#include "code_exception.h"
#include "result_codes.h"
#include "riff.h"
#include "sample_conversion.h"
#include "system_cause.h"

namespace {

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
    // A read takes whatever the pipe holds, up to the buffer's size, so buffering delays no
    // block and spares a system call for most of them. stdio uses the buffer until the
    // process exits: it cannot belong to an object that is destroyed before.
    static char buffer[64 * 1024];
    std::setvbuf(stdin, buffer, _IOFBF, sizeof buffer);
}

ReadOutcome RawInputSource::Read(AudioBlock& block) {
    errno = 0;
    uint64_t bytes = std::fread(samples_.data(), 1, samples_.size(), stdin);
    const int readError = errno;
    if (firstRead_) {
        firstRead_ = false;
        refused_ = BeginsAsWav(samples_.data(), bytes);
        CorvidaUtils::CodeException checker;
        checker.cause = kWavOnRawInput;
        checker.Check(!refused_, CorvidaUtils::kIoError, "Reading error");
    }
    // Whole frames only: a partial one would fail the embedder, or pass downstream and
    // misalign every later reader of the output.
    const uint64_t frameBytes = FrameBytes();
    const uint64_t partial = frameBytes > 0 ? bytes % frameBytes : 0;
    bytes -= partial;
    const bool stopped = stopRequested_();
    if (stopped) {
        // The signal may have cut the read short in the middle of a frame.
    } else if (std::ferror(stdin)) {
        // Bytes read before the error still make a block; the next read reports it.
        if (bytes == 0) {
            CorvidaUtils::CodeException checker;
            checker.cause = SystemCause("cannot read standard input", readError);
            checker.Raise(CorvidaUtils::kIoError, "Reading error");
        }
    } else if (partial > 0) {
        // fread() comes back short only at the end of the input.
        std::cerr << "Warning: the input ended inside a frame; its last " << partial
                  << " bytes were dropped" << std::endl;
    }
    if (bytes == 0) return stopped ? ReadOutcome::kStopped : ReadOutcome::kEnd;
    if (bigEndian_) SwapSampleBytes(samples_.data(), bytes, format_.bitsPerSample / 8);
    Deliver(bytes, block);
    return ReadOutcome::kBlock;
}
