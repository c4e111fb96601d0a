#include "raw_output_sink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
    CorvidaUtils::CodeException().Check(!same, CorvidaUtils::kIoError,
                                        "Standard output is the input file");
}

void RawOutputSink::Open(const WavPcmFormat& format, WavCarriedItems) {
    format_ = format;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // A regular file does not stall, and keeps its plain write: no system call more per block.
    struct stat status {};
    regularFile_ = fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode);
    if (!regularFile_) {
        stallable_ = std::make_unique<StallableOutput>(STDOUT_FILENO, false, stopRequested_);
    }
}

void RawOutputSink::Close() {
    if (!regularFile_ || Failed() || SyncDescriptor(STDOUT_FILENO)) return;
    const int error = errno;
    RecordFailure(CorvidaUtils::kIoError, WriteFailureContext(), "cannot write standard output",
                  error);
}

uint64_t RawOutputSink::WriteBytes(uint8_t* bytes, uint64_t size) {
    if (bigEndian_) SwapSampleBytes(bytes, size, format_.bitsPerSample / 8);
    int error = 0;
    uint64_t written = size;
    if (stallable_) {
        const StallableOutput::Written result = stallable_->Write(bytes, size);
        if (result.abandoned) RecordAbandoned();
        written = result.bytes;
        error = result.error;
    } else if (std::fwrite(bytes, 1, size, stdout) != size) {
        // A stop signal cannot cut the write short: audio flows only once interrupted calls
        // restart.
        written = 0;
        error = errno;
    }
    if (written < size && !Abandoned()) {
        // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE.
        RecordFailure(CorvidaUtils::kIoError, WriteFailureContext(), "cannot write standard output",
                      error);
    }
    return written;
}
