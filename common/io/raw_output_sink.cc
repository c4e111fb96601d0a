#include "raw_output_sink.h"

#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "code_exception.h"
#include "file_identity.h"
#include "output_claim.h"
#include "result_codes.h"
#include "sample_conversion.h"

namespace {

// Short enough that a stop signal is seen soon, long enough that waiting costs nothing.
constexpr int kWaitSliceMs = 100;
// What a stalled output has, after a stop signal, to take the audio still pending.
constexpr std::chrono::seconds kStopGrace{1};

}  // namespace

// Standard output redirected onto the input (`1<>in.wav`, `>> in.wav`, a raw input's own
// file) would overwrite its header, or read back its own output for ever.
void RawOutputSink::CheckIsNotInput(const InputIdentity& input) const {
    const bool same = input.descriptor >= 0 ? DescriptorsShareAFile(input.descriptor, STDOUT_FILENO)
                                            : IsFileOnDescriptor(STDOUT_FILENO, input.path);
    CorvidaUtils::CodeException().Check(!same, CorvidaUtils::kIoError,
                                        "Standard output is the input file");
}

void RawOutputSink::Open(const WavPcmFormat& format, WavCarriedItems) {
    format_ = format;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // A regular file does not stall, and keeps its plain write: no system call more per block.
    struct stat status {};
    regularFile_ = fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode);
    canStall_ = !regularFile_;
}

void RawOutputSink::Close() {
    if (!regularFile_ || Failed() || SyncDescriptor(STDOUT_FILENO)) return;
    const int error = errno;
    RecordFailure(CorvidaUtils::kIoError, WriteFailureContext(), "cannot write standard output",
                  error);
}

uint64_t RawOutputSink::WriteBytes(uint8_t* bytes, uint64_t size) {
    if (bigEndian_) SwapSampleBytes(bytes, size, format_.bitsPerSample / 8);
    if (canStall_) return WriteInSlices(bytes, size);
    // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE. A stop
    // signal cannot cut the write short: audio flows only once interrupted calls restart.
    if (std::fwrite(bytes, 1, size, stdout) != size) {
        const int error = errno;
        RecordFailure(CorvidaUtils::kIoError, WriteFailureContext(), "cannot write standard output",
                      error);
        return 0;
    }
    return size;
}

uint64_t RawOutputSink::WriteInSlices(const uint8_t* bytes, uint64_t size) {
    const int fd = fileno(stdout);
    uint64_t written = 0;
    while (written < size) {
        if (StopGraceOver()) {
            RecordAbandoned();
            break;
        }
        pollfd output{fd, POLLOUT, 0};
        const int ready = poll(&output, 1, kWaitSliceMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        // Room for PIPE_BUF bytes at least, so this write does not wait. (Should poll itself
        // fail, the write tells what is wrong with the output.)
        const ssize_t n = write(fd, bytes + written, std::min<uint64_t>(size - written, PIPE_BUF));
        if (n > 0) {
            written += static_cast<uint64_t>(n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE.
            const int error = n == 0 ? 0 : errno;
            RecordFailure(CorvidaUtils::kIoError, WriteFailureContext(),
                          "cannot write standard output", error);
            break;
        }
    }
    return written;
}

bool RawOutputSink::StopGraceOver() {
    if (!stopRequested_()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!stopSeenAt_) stopSeenAt_ = now;
    return now - *stopSeenAt_ >= kStopGrace;
}
