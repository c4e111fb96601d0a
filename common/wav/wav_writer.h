// Writer of PCM WAV files. Open claims the output: a file it creates holds a valid empty WAV
// file from the instant it has its name, an existing one keeps what it holds until Start (or
// the first Write, or Close) replaces it in place. The header's sizes stay true while samples
// are appended, and are final at Close. An output whose sizes cannot be rewritten (a FIFO, a
// pipe, a device) is written as a stream of unknown length, and never holds the run past a
// stop signal (see stallable_output.h).
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "output_claim.h"
#include "stallable_output.h"
#include "stdio_file.h"
#include "wav_carried_items.h"

// Result codes of the writer.
constexpr int32_t kWavWriterSuccess = 0;
constexpr int32_t kWavWriterNotOpen = 1;       // null path, or Write without an open file
constexpr int32_t kWavWriterGenericError = 2;  // a call the writer cannot take: negative
                                               // length, null data
constexpr int32_t kWavWriterIoError = 3;
constexpr int32_t kWavWriterInUse = 4;        // another writer holds the output
constexpr int32_t kWavWriterOutOfMemory = 5;  // memory could not be had
constexpr int32_t kWavWriterAbandoned = 6;    // a stream output given up after a stop signal:
                                              // no failure, but the audio did not all go out

class WavWriter {
public:
    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    // Completes the file as Close does.
    ~WavWriter();

    // Creates the output if it does not exist (a valid empty WAV file at once) and takes it
    // for this writer alone; an existing file keeps its content until Start.
    int32_t Open(const char* path, int16_t channels, uint32_t sampleRate, int16_t bitsPerSample);
    // Opens the file standard output is open on, as Open does a path: a regular file written
    // from its start has its sizes patched, anything else is a stream.
    int32_t OpenStandardOutput(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample);
    // Puts the header in place: from here on the output holds this writer's WAV file, also if
    // the process dies. An existing file is overwritten in place, then cut to the header, so
    // that it is never torn; where the header cannot be written, it is given back as it was.
    int32_t Start();
    // Completes the WAV file (a header alone when nothing was written), syncs a regular file
    // to the disk (and the directory of a file Open created), and closes it.
    int32_t Close();
    int32_t Write(const uint8_t* data, int32_t length);
    // Gives the output back as Open found it, for a run that ends before its audio starts: a
    // file Open created is removed, an existing one is left as it was. Once the WAV file has
    // been started this completes it as Close does, so that no written audio is lost.
    int32_t Discard();
    // What the input holds besides its audio, for the files this writer opens from then on:
    // chunks before the audio go between the format chunk and the audio, chunks after it
    // follow the audio when the file is completed, and the channel mask and the 64-bit form
    // are kept.
    void SetCarriedItems(WavCarriedItems items) { carried_ = std::move(items); }
    // Lets a stream output give up its writes once a stop signal has come.
    void SetStopCheck(bool (*stopRequested)()) { stopRequested_ = stopRequested; }

    // The system's reason (errno) of the first failure since Open, or 0.
    int SystemError() const { return systemError_; }
    // What of the input the file does not carry, and why: one line each, for standard error.
    std::vector<std::string> TakeNotes() { return std::move(notes_); }

    // Lets tests reach the sizes that no longer fit the header without writing gigabytes.
    void SetDataBytesForTesting(uint64_t bytes) { dataBytes_ = bytes; }

private:
    // Why a claim is worth another try: this way of making a new file cannot be had here, or
    // another file took the name meanwhile.
    enum class ClaimRetry { kNo, kAnotherWay, kNameTaken };
    // Takes the output with `take` and starts a file it creates with its header.
    int32_t Claim(const std::function<int32_t(OutputClaim&)>& take, ClaimRetry& retry);
    void SetFormat(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample);
    bool IsOpen() const { return file_ != nullptr || stream_ != nullptr; }
    // Writes the header at the start of the output; false when it could not be had whole.
    bool WriteHeader();
    // Where an existing file's header is too big to go in at one instant: makes the new file,
    // header and all, beside it and swaps it in under the name. False where that could not
    // be done; the earlier file is then as it was.
    bool WriteHeaderBeside();
    // Puts the header at the start of a regular file and cuts the file to it; over an existing
    // file so that at every instant it is the earlier one or a WAV file with true sizes.
    bool WriteHeaderOver();
    // Appends to a stream output; false when the output failed or was given up.
    bool WriteToStream(const uint8_t* data, uint64_t size);
    // The output as Open found it, where the disk allows it, and no file left open: after a
    // header that could not be written, and for Discard.
    void GiveBackTheOutput();
    // Keeps a note for TakeNotes; a note that memory cannot hold is left out.
    void Note(const char* text) noexcept {
        try {
            notes_.emplace_back(text);
        } catch (...) {
        }
    }
    // Keeps errno as the reason of the failure at hand, unless one is kept already; returns
    // `result`, for the caller to pass on.
    template <typename T>
    T NoteSystemError(T result) {
        if (systemError_ == 0) systemError_ = errno;
        return result;
    }
    // Flushes the samples written so far and rewrites the sizes in place to cover them.
    bool UpdateSizes();
    // Writes the sizes of a file whose audio holds `dataBytes`, followed by `tailBytes` (the
    // pad byte and the chunks after the audio).
    bool PatchSizes(int fd, uint64_t dataBytes, uint64_t tailBytes) const;
    bool RiffSizeFits(uint64_t fileBytes) const;
    // Appends the pad byte of an odd audio region and the chunks that follow the audio; tells
    // how many bytes that took.
    bool WriteTail(uint64_t& tailBytes);
    // After a failed write: keeps the whole frames that reached the file (at most
    // `dataLimit` bytes of them), with sizes that say so, and closes it.
    void CloseKeepingWhatReachedTheFile(uint64_t dataLimit = UINT64_MAX);
    uint64_t WholeFrameBytes(uint64_t bytes) const;

    // A regular file is written through stdio, a stream through the stallable output.
    StdioFile file_;
    std::unique_ptr<StallableOutput> stream_;
    bool abandoned_ = false;
    bool (*stopRequested_)() = nullptr;
    int systemError_ = 0;
    // The header is in the file; the file is this writer's from then on (Start was called,
    // or audio written).
    bool headerWritten_ = false;
    bool started_ = false;
    // A regular file, whose sizes can be rewritten in place while samples are appended.
    bool patchable_ = false;
    // The path, taken while the file is open.
    std::unique_ptr<OutputClaim> claim_;

    WavCarriedItems carried_;
    std::vector<std::string> notes_;
    std::vector<uint8_t> header_;
    // 64 bits, so that a file past 4 GiB is recognised instead of wrapping the count.
    uint64_t dataBytes_ = 0;
    uint64_t headerBytes_ = 0;
    // Where the header keeps its sizes: the 32-bit data size field, and for an RF64 file the
    // body of its "ds64" chunk (0 for a RIFF file).
    uint64_t dataSizeOffset_ = 0;
    uint64_t ds64Offset_ = 0;
    uint16_t channels_ = 0;
    uint32_t sampleRate_ = 0;
    uint16_t bitsPerSample_ = 0;
    uint32_t blockAlign_ = 0;
    // How many sample bytes make a second of audio, and when the sizes are rewritten next.
    uint64_t sizeUpdateInterval_ = 0;
    uint64_t nextSizeUpdate_ = 0;
};
