// The output side that both listeners share: the WAV writer they own, and the record of the
// first output that was lost, which the driver checks so that a run whose output was lost is
// never reported as a success.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>

#include "wav_pcm_muxer.h"

class ListenerOutput {
public:
    // The outcome of an output that stopped taking audio after a stop signal: the run was
    // interrupted and its output holds less than was fed, but nothing failed.
    static constexpr int32_t kAbandonedAfterStop = -1;

    ListenerOutput() = default;
    ListenerOutput(const ListenerOutput&) = delete;
    ListenerOutput& operator=(const ListenerOutput&) = delete;
    ~ListenerOutput() { Close(); }

    // False when memory cannot be had.
    bool CreateWriter();
    bool HasWriter() const { return writer_ != nullptr; }
    // What the input holds besides its audio, for the WAV file OpenWriter opens.
    void SetCarriedItems(WavCarriedItems items) { carried_ = std::move(items); }
    // The writer's result code; a writer that could not be created gives the writer's
    // out-of-memory code. Once the file is open, says on standard error what of the input it will
    // not carry.
    int32_t OpenWriter(const char* path, int32_t samplingRate, int32_t nbChannels,
                       int32_t bitsPerSample);
    // Puts the WAV file's header in place (see IWavPcmMuxer::Start); a failure is recorded.
    void Start();
    // Completes and closes the WAV file. A second call does nothing.
    void Close();
    // Leaves the output path as the run found it (see IWavPcmMuxer::Discard).
    void Discard();

    // Before the first WriteStdout: makes standard output unbuffered, and finds out whether it
    // can stall (anything but a regular file: a pipe, a terminal, a socket).
    void PrepareStdout();

    void WriteWav(const uint8_t* bytes, uint64_t length);
    // On an output that can stall, waits for it in short slices: a stop signal must end the
    // run even when the reader downstream takes nothing. About a second after the writer first
    // sees the stop, the output gives up (kAbandonedAfterStop) and drops every later block, so
    // that the library's thread, and the driver waiting on it, can go on to the end.
    void WriteStdout(const uint8_t* bytes, uint64_t length);
    void RecordFailure(int32_t writerCode);

    // kWavMuxerSuccess, kAbandonedAfterStop, or the writer code of the first failure.
    int32_t Result() const { return result_.load(std::memory_order_acquire); }
    bool Abandoned() const { return Result() == kAbandonedAfterStop; }
    // Sample bytes written to the WAV file or to standard output so far.
    uint64_t BytesWritten() const { return bytesWritten_.load(std::memory_order_acquire); }

private:
    // Writes at most what poll() said the output takes, so no write blocks for long. The number
    // of bytes written.
    uint64_t WriteStdoutInSlices(const uint8_t* bytes, uint64_t length);
    // True once the output has had its time after a stop signal.
    bool StopGraceOver();

    IWavPcmMuxer* writer_ = nullptr;
    bool stdoutCanStall_ = false;
    // When the writing thread first saw the stop signal, if it has.
    std::optional<std::chrono::steady_clock::time_point> stopSeenAt_;
    WavCarriedItems carried_;
    // Set from the library's thread, read from the driver's.
    std::atomic<int32_t> result_{kWavMuxerSuccess};
    std::atomic<uint64_t> bytesWritten_{0};
};
