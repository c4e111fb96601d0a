#include "stallable_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace {

// Short enough that a stop signal is seen soon, long enough that waiting costs nothing.
constexpr int kWaitSliceMs = 100;
// What a stalled output has, after a stop signal, to take the audio still pending.
constexpr std::chrono::seconds kStopGrace{1};

}  // namespace

StallableOutput::StallableOutput(int fd, bool ownDescription, bool (*stopRequested)())
    : fd_(fd), stopRequested_(stopRequested) {
    if (ownDescription) {
        const int flags = fcntl(fd_, F_GETFL);
        nonBlocking_ = flags != -1 && fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0;
        return;
    }
    // A new description of the same pipe, FIFO or terminal; a socket cannot be opened so.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    ownFd_ = open(self.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    nonBlocking_ = ownFd_ >= 0;
}

StallableOutput::~StallableOutput() {
    if (ownFd_ >= 0) close(ownFd_);
}

StallableOutput::Written StallableOutput::Write(const uint8_t* bytes, uint64_t size) {
    Written result;
    const int fd = ownFd_ >= 0 ? ownFd_ : fd_;
    // Until it is known to have room, a blocking description is only written after poll()
    // said so, and then with at most PIPE_BUF bytes, which it takes without waiting.
    bool room = nonBlocking_;
    while (result.bytes < size && !abandoned_) {
        if (!room) {
            // Only an output that makes the run wait can hold up a stop.
            if (StopGraceOver()) {
                abandoned_ = true;
                break;
            }
            pollfd output{fd, POLLOUT, 0};
            const int ready = poll(&output, 1, kWaitSliceMs);
            // Should poll itself fail, the write tells what is wrong with the output.
            if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        }
        const uint64_t left = size - result.bytes;
        const ssize_t n = write(fd, bytes + result.bytes,
                                nonBlocking_ ? left : std::min<uint64_t>(left, PIPE_BUF));
        if (n > 0) {
            result.bytes += static_cast<uint64_t>(n);
            room = nonBlocking_;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            room = false;
        } else {
            // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE.
            result.error = n == 0 ? EIO : errno;
            return result;
        }
    }
    result.abandoned = abandoned_;
    return result;
}

bool StallableOutput::StopGraceOver() {
    if (stopRequested_ == nullptr || !stopRequested_()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!stopSeenAt_) stopSeenAt_ = now;
    return now - *stopSeenAt_ >= kStopGrace;
}
