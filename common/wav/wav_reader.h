// Reader of PCM WAV files: checks the layout, reports the format and hands out the sample
// bytes of the data chunk block by block with the media time reached. A file that cannot seek
// (a pipe, a FIFO, a socket, a device) is read as a stream: forward only, its chunks before
// the audio carried, the audio read to its declared size or, when a writer on a pipe could not
// know it, to the end, and what follows the audio read and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "carried_chunk_policy.h"
#include "stdio_file.h"
#include "wav_carried_items.h"
#include "wav_pcm_format.h"

class ChunkWalker;

// Result codes of the reader.
constexpr int32_t kWavReaderSuccess = 0;
constexpr int32_t kWavReaderEndOfData = 1;  // Read only
constexpr int32_t kWavReaderNullPath = -1;
constexpr int32_t kWavReaderGenericError = -2;  // a call the reader cannot take: null
                                                // argument, oversized request
constexpr int32_t kWavReaderIoError = -3;
constexpr int32_t kWavReaderUnsupported = -4;

// Why a file that opens is not one the reader takes, and the tool that turns it into one,
// where one does: sox with these options (empty: a plain conversion), or else ffmpeg, which
// decodes what sox cannot read (compressed audio, other containers, odd sample widths).
struct UnsupportedInput {
    std::string what;
    std::optional<std::string> soxOptions;
    bool ffmpegConverts = false;
};

class WavReader {
public:
    WavReader() = default;
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;
    ~WavReader() = default;

    int32_t Open(const char* path, WavPcmFormat* format);
    // Reads what `descriptor` is open on (standard input, say) without opening it again.
    int32_t Open(int descriptor, WavPcmFormat* format);
    int32_t Close();
    // `frames`: frames wanted on entry, whole frames delivered on success. `mediaTime`: media
    // time after the block, in 100 ns ticks.
    int32_t Read(uint8_t* buffer, int64_t* frames, uint64_t* mediaTime);
    // What the file opened last holds besides its audio, for a WAV output to carry on.
    const WavCarriedItems& CarriedItems() const { return carried_; }
    // Hands over what the file holds besides its audio, leaving nothing behind.
    WavCarriedItems TakeCarriedItems() { return std::move(carried_); }
    // The input opened last cannot seek: it is read once, forward only.
    bool IsStream() const { return stream_; }
    // The notes made since the carried items were taken: at the end of a stream's audio.
    std::vector<std::string> TakeNotes() { return std::move(carried_.notes); }
    // Warnings about the file opened last (one whose data chunk header is cut off), one line
    // each, for the caller to show.
    std::vector<std::string> TakeWarnings() { return std::move(warnings_); }
    // The system's reason (errno) of the last failure to open or read, or 0.
    int SystemError() const { return systemError_; }
    // The audio bytes the header claims beyond the end of the file, or 0.
    uint64_t MissingDataBytes() const;
    // After Open gave kWavReaderUnsupported: why.
    const UnsupportedInput& WhyUnsupported() const { return unsupported_; }
    // Asked between chunks while Open walks the file: when it answers true, Open gives up
    // with -3. A damaged file of many small chunks takes long to walk, and the user may want
    // to stop.
    void SetStopCheck(bool (*stopRequested)()) { stopRequested_ = stopRequested; }

private:
    struct RiffHeader {
        uint32_t id = 0;
        uint32_t size = 0;
        uint32_t formType = 0;
    };
    // Size and the first 16 body bytes of the "fmt " chunk, as stored.
    struct FormatChunk {
        uint32_t size = 0;
        uint16_t formatTag = 0;
        uint16_t channels = 0;
        uint32_t sampleRate = 0;
        uint32_t byteRate = 0;
        uint16_t blockAlign = 0;
        uint16_t bitsPerSample = 0;
    };

    // Keep why the file is not taken; return kWavReaderUnsupported.
    int32_t Unsupported(std::string what, std::optional<std::string> soxOptions);
    int32_t UnsupportedButFfmpegConverts(std::string what);
    // Samples of another format than PCM, named by their format tag.
    int32_t UnsupportedSamples(std::string what, uint16_t formatTag);
    // The format chunk ends within the file: a file whose chunk claims more is damaged.
    bool FormatChunkFitsFile() const;
    void Reset();
    // Open once `file_` is set, or null with errno saying why.
    int32_t OpenFile(WavPcmFormat* format);
    // Keeps errno as the reason of a failed move; returns kWavReaderIoError.
    int32_t MoveFailed();
    // Open once the stream exists; on failure the caller drops the stream.
    int32_t ParseHeaders(WavPcmFormat* format);
    int32_t WalkToData(ChunkWalker& walker, WavPcmFormat* format);
    int32_t ReadFormatChunk();
    int32_t CheckSubFormat();
    int32_t LocateData();
    int32_t LocateStreamData(bool haveSize, uint32_t sizeField);
    // A chunk the walk passes over, its body next in the stream: the sizes of a "ds64" chunk
    // are taken, other chunks kept for the output. Returns the body bytes read.
    uint64_t TakeChunk(uint32_t id, uint32_t size, bool beforeAudio);
    // Appends the chunk, its body read from the stream; false when the file ends first.
    // `got` counts the body bytes read. May throw std::bad_alloc.
    bool ReadChunkInto(std::vector<uint8_t>& chunks, uint32_t id, uint32_t size, size_t& got);
    // Once the audio of a stream has been read: reads what follows to the end.
    void DrainStream();
    void KeepChunksAfterAudio();
    // A 64-bit data size may claim more than any file holds: its end is then past every byte
    // of the file, not wrapped round to before the start of the data.
    uint64_t DataEnd() const;
    bool StopRequested() const;

    StdioFile file_;
    int systemError_ = 0;
    UnsupportedInput unsupported_;
    RiffHeader riffHeader_;
    FormatChunk formatChunk_;
    uint64_t mediaTime_ = 0;
    int64_t dataStart_ = 0;
    uint64_t dataSize_ = 0;
    int64_t position_ = 0;
    int64_t fileEnd_ = 0;
    uint32_t frameSize_ = 0;
    bool stream_ = false;
    bool streamEnded_ = false;  // what followed the audio has been read

    bool rf64_ = false;
    // The data size of the "ds64" chunk, which stands for a data chunk size field of all ones.
    bool haveDs64_ = false;
    uint64_t ds64DataSize_ = 0;
    WavCarriedItems carried_;
    std::vector<std::string> warnings_;
    bool (*stopRequested_)() = nullptr;
    // What the walk carries of the file opened last, and its notes.
    std::optional<CarriedChunkPolicy> policy_;
};
