#include "raw_output_sink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "code_exception.h"
#include "file_identity.h"
#include "output_claim.h"
#include "result_codes.h"
#include "sample_conversion.h"

// Standard output redirected onto the input (`1<>in.wav`, `>> in.wav`, a raw input's own
// file) would overwrite its header, or read back its own output for ever.
void RawOutputSink::CheckIsNotInput(const InputIdentity& input) const {
    const bool same = input.descriptor >= 0 ? DescriptorsShareAFile(input.descriptor, STDOUT_FILENO)
                                            : IsFileOnDescriptor(STDOUT_FILENO, input.path);
    if (same) {
        CorvidaUtils::Raise(
            CorvidaUtils::Status(CorvidaUtils::kIoError, "Standard output is the input file"));
    }
}

void RawOutputSink::Open(const WavPcmFormat& format, WavCarriedItems) {
    format_ = format;
    // A regular file does not stall, and keeps its plain write: no system call more per block.
    struct stat status {};
    regularFile_ = fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode);
    if (!regularFile_) {
        stallable_ = std::make_unique<StallableOutput>(STDOUT_FILENO, false, stopRequested_);
    }
}

CorvidaUtils::Status RawOutputSink::Close() {
    if (!regularFile_ || SyncDescriptor(STDOUT_FILENO)) return CorvidaUtils::Status();
    return Failure(CorvidaUtils::kIoError, "cannot write standard output", errno);
}

CorvidaUtils::Status RawOutputSink::WriteBytes(uint8_t* bytes, uint64_t size) {
    if (bigEndian_) SwapSampleBytes(bytes, size, format_.bitsPerSample / 8);
    if (stallable_) {
        const StallableOutput::Written result = stallable_->Write(bytes, size);
        Written(result.bytes);
        if (result.abandoned) RecordAbandoned();
        if (result.bytes == size || result.abandoned) return CorvidaUtils::Status();
        // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE.
        return Failure(CorvidaUtils::kIoError, "cannot write standard output", result.error);
    }
    // A stop signal cannot cut the write short: audio flows only once interrupted calls
    // restart.
    uint64_t written = 0;
    while (written < size) {
        const ssize_t n = write(STDOUT_FILENO, bytes + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : 0;
            Written(written);
            return Failure(CorvidaUtils::kIoError, "cannot write standard output", error);
        }
        written += static_cast<uint64_t>(n);
    }
    Written(size);
    return CorvidaUtils::Status();
}
