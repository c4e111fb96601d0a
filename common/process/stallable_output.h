// Writing to an output that may stall: a pipe, a FIFO, a terminal or a socket whose reader
// takes nothing for as long as it likes. A write must never hold the run past a stop signal,
// yet the usual case, a reader that keeps up, should cost one write() and nothing more.
//
// Where it can, the output is written through a non-blocking open file description of its
// own (one the run opened itself, or a new one opened through /proc/self/fd for a descriptor
// the process inherited, so that the shell's description keeps its flags): a write takes what
// the output has room for, and only a write that could not take everything waits, in short
// poll() slices. Where no such description can be had (a socket, no /proc), every write is
// gated by poll() and limited to what the output is sure to take at once. Either way, about a
// second after a stop signal has been seen, the output is given up: the rest is dropped, so
// that the thread writing, and the run waiting on it, can go on to the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

class StallableOutput {
public:
    // `fd` stays the caller's. `ownDescription`: the caller opened `fd` itself, so that its
    // flags may be changed; otherwise a description of its own is opened where possible.
    StallableOutput(int fd, bool ownDescription, bool (*stopRequested)());
    StallableOutput(const StallableOutput&) = delete;
    StallableOutput& operator=(const StallableOutput&) = delete;
    ~StallableOutput();

    struct Written {
        uint64_t bytes = 0;
        int error = 0;           // the system's reason of a failed write, or 0
        bool abandoned = false;  // given up after a stop signal
    };
    // Writes all of `bytes` unless the output fails or is given up.
    Written Write(const uint8_t* bytes, uint64_t size);

private:
    // True once the output has had its time after a stop signal.
    bool StopGraceOver();

    const int fd_;
    int ownFd_ = -1;  // the non-blocking description opened here, if any
    bool nonBlocking_ = false;
    bool (*const stopRequested_)();
    bool abandoned_ = false;
    std::optional<std::chrono::steady_clock::time_point> stopSeenAt_;
};
