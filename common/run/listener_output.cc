#include "listener_output.h"

#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "stop_signal.h"

namespace {

// Short enough that a stop signal is seen soon, long enough that waiting costs nothing.
constexpr int kWaitSliceMs = 100;
// What a stalled output has, after a stop signal, to take the audio still pending.
constexpr std::chrono::seconds kStopGrace{1};

}  // namespace

bool ListenerOutput::CreateWriter() {
    if (writer_ == nullptr) writer_ = CreateWavPcmMuxer();
    return writer_ != nullptr;
}

int32_t ListenerOutput::OpenWriter(const char* path, int32_t samplingRate, int32_t nbChannels,
                                   int32_t bitsPerSample) {
    if (writer_ == nullptr) return kWavMuxerOutOfMemory;
    const std::vector<std::string> notes = std::move(carried_.notes);
    writer_->SetCarriedItems(std::move(carried_));
    carried_ = WavCarriedItems();
    const int32_t result =
        writer_->Open(path, static_cast<int16_t>(nbChannels), static_cast<uint32_t>(samplingRate),
                      static_cast<int16_t>(bitsPerSample));
    if (result == kWavMuxerSuccess) {
        for (const std::string& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
    }
    return result;
}

void ListenerOutput::Start() {
    if (writer_ == nullptr) return;
    const int32_t result = writer_->Start();
    if (result != kWavMuxerSuccess) RecordFailure(result);
}

void ListenerOutput::Close() {
    if (writer_ == nullptr) return;
    // Closing before destroying keeps the result of completing the file, which the destroy
    // function would drop.
    const int32_t result = writer_->Close();
    if (result != kWavMuxerSuccess) RecordFailure(result);
    DestroyWavPcmMuxer(writer_);
}

void ListenerOutput::Discard() {
    if (writer_ == nullptr) return;
    const int32_t result = writer_->Discard();
    if (result != kWavMuxerSuccess) RecordFailure(result);
    DestroyWavPcmMuxer(writer_);
}

void ListenerOutput::WriteWav(const uint8_t* bytes, uint64_t length) {
    if (writer_ == nullptr) return;
    // The writer takes a 32-bit length; a larger block would be cut short, so it counts as a
    // failed write rather than being truncated silently.
    const int32_t result = length > static_cast<uint64_t>(INT32_MAX)
                               ? kWavMuxerIoError
                               : writer_->Write(bytes, static_cast<int32_t>(length));
    if (result != kWavMuxerSuccess) {
        RecordFailure(result);
        return;
    }
    bytesWritten_.fetch_add(length, std::memory_order_acq_rel);
}

void ListenerOutput::PrepareStdout() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // A regular file does not stall, and keeps its plain write: no system call more per block.
    struct stat status {};
    stdoutCanStall_ = fstat(STDOUT_FILENO, &status) != 0 || !S_ISREG(status.st_mode);
}

void ListenerOutput::WriteStdout(const uint8_t* bytes, uint64_t length) {
    if (stdoutCanStall_) {
        bytesWritten_.fetch_add(WriteStdoutInSlices(bytes, length), std::memory_order_acq_rel);
        return;
    }
    // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE. A stop
    // signal cannot cut the write short: audio flows only once interrupted calls restart.
    if (std::fwrite(bytes, 1, length, stdout) != length) {
        RecordFailure(kWavMuxerIoError);
        return;
    }
    bytesWritten_.fetch_add(length, std::memory_order_acq_rel);
}

uint64_t ListenerOutput::WriteStdoutInSlices(const uint8_t* bytes, uint64_t length) {
    if (Abandoned()) return 0;
    const int fd = fileno(stdout);
    uint64_t written = 0;
    while (written < length) {
        if (StopGraceOver()) {
            RecordFailure(kAbandonedAfterStop);
            break;
        }
        pollfd output{fd, POLLOUT, 0};
        const int ready = poll(&output, 1, kWaitSliceMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        // Room for PIPE_BUF bytes at least, so this write does not wait. (Should poll itself
        // fail, the write tells what is wrong with the output.)
        const ssize_t n =
            write(fd, bytes + written, std::min<uint64_t>(length - written, PIPE_BUF));
        if (n > 0) {
            written += static_cast<uint64_t>(n);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE.
            RecordFailure(kWavMuxerIoError);
            break;
        }
    }
    return written;
}

bool ListenerOutput::StopGraceOver() {
    if (!StopRequested()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!stopSeenAt_) stopSeenAt_ = now;
    return now - *stopSeenAt_ >= kStopGrace;
}

void ListenerOutput::RecordFailure(int32_t writerCode) {
    int32_t expected = kWavMuxerSuccess;
    result_.compare_exchange_strong(expected, writerCode, std::memory_order_acq_rel);
}
