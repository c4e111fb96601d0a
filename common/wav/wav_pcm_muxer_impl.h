// The file-backed WAV writer behind IWavPcmMuxer.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "stdio_file.h"
#include "wav_pcm_muxer.h"

class CWAVPCMMuxer : public IWavPcmMuxer {
public:
    CWAVPCMMuxer() = default;
    CWAVPCMMuxer(const CWAVPCMMuxer&) = delete;
    CWAVPCMMuxer& operator=(const CWAVPCMMuxer&) = delete;
    // Completes the file as Close does.
    ~CWAVPCMMuxer() override;

    int32_t Open(const char* path, int16_t channels, uint32_t sampleRate,
                 int16_t bitsPerSample) override;
    int32_t Start() override;
    int32_t Close() override;
    int32_t Write(const uint8_t* data, int32_t length) override;
    int32_t Discard() override;
    void SetCarriedItems(WavCarriedItems items) override { carried_ = std::move(items); }

    // The system's reason (errno) of the first failure since Open, or 0.
    int SystemError() const { return systemError_; }

    // Lets tests reach the sizes that no longer fit the header without writing gigabytes.
    void SetDataBytesForTesting(uint64_t bytes) { dataBytes_ = bytes; }

private:
    // Claim's word that the unnamed file could not be used: the output is opened by name.
    static constexpr int32_t kTryByName = -1;
    // Takes the output: the unnamed file `unnamedFd` to be linked as `path`, or with -1 the
    // file `path` names.
    int32_t Claim(const char* path, int unnamedFd);
    // Writes the header at the start of the output; false when it could not be had whole.
    bool WriteHeader();
    // Writes the header over the start of a regular file, then cuts the file to it.
    bool WriteHeaderInPlace();
    // After a header that could not be written: the output as Open found it, where the disk
    // allows it, and no file left open.
    void GiveBackTheOutput();
    void RemoveCreatedFile();
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

    StdioFile file_;
    int systemError_ = 0;
    // The header is in the file; the file is this writer's from then on (Start was called,
    // or audio written).
    bool headerWritten_ = false;
    bool started_ = false;
    // A regular file, whose sizes can be rewritten in place while samples are appended.
    bool patchable_ = false;
    // Set when Open created the file, so that Discard can remove it again.
    std::string createdPath_;
    dev_t createdDevice_ = 0;
    ino_t createdInode_ = 0;
    // What Start overwrites of an existing file, to be put back if the header cannot be had.
    std::vector<uint8_t> earlierStart_;
    uint64_t earlierSize_ = 0;

    WavCarriedItems carried_;
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
