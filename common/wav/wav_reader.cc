// The 64-bit stdio calls must be declared whatever feature macros the compiler sets itself.
#ifndef _LARGEFILE64_SOURCE
#define _LARGEFILE64_SOURCE 1
#endif

#include "wav_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "carried_chunk_policy.h"
#include "chunk_walker.h"
#include "riff.h"

namespace {

constexpr uint32_t kRiffId = FourCc("RIFF");
// The 64-bit form of long recordings: its sizes stand in a "ds64" chunk, the 32-bit fields
// that cannot hold them are all ones.
constexpr uint32_t kRf64Id = FourCc("RF64");
constexpr uint32_t kDs64Id = FourCc("ds64");
constexpr uint32_t kWaveId = FourCc("WAVE");
constexpr uint32_t kFmtId = FourCc("fmt ");
constexpr uint32_t kDataId = FourCc("data");

// "WXav" as it has always read (see result/kept_texts.h).
constexpr char kDataSizeWarning[] = "Warning: error reading WXav chunk";

bool ReadBytes(std::FILE* file, uint8_t* bytes, size_t count) {
    return std::fread(bytes, 1, count, file) == count;
}

// Identifiers are four printable ASCII characters; anything else after the audio is not a
// chunk (a cut-off or overwritten end of file).
bool IsPrintable(uint32_t c) {
    return c >= 0x20 && c <= 0x7E;
}

bool IsChunkId(uint32_t id) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (!IsPrintable((id >> shift) & 0xFF)) return false;
    }
    return true;
}

uint64_t PaddedSize(uint32_t size) {
    return CarriedChunkPolicy::PaddedSize(size);
}

bool StartsWith(const uint8_t* bytes, const char* text) {
    return std::memcmp(bytes, text, std::strlen(text)) == 0;
}

// What a file that is no WAV file holds, as far as its first bytes tell: the audio files that
// users take for WAV files, which ffmpeg decodes.
std::optional<std::string> OtherAudioFile(const uint8_t (&head)[12]) {
    // An ID3 tag, or the frame sync of MPEG audio (its version and layer not reserved).
    if (StartsWith(head, "ID3")) return "an MP3 file";
    if (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0 && (head[1] & 0x18) != 0x08 &&
        (head[1] & 0x06) != 0) {
        return (head[1] & 0x06) == 0x02 ? "an MP3 file" : "an MPEG audio file";
    }
    if (StartsWith(head, "fLaC")) return "a FLAC file";
    if (StartsWith(head, "OggS")) return "an Ogg file";
    if (StartsWith(head + 4, "ftyp")) {
        if (StartsWith(head + 8, "M4A ")) return "an M4A file";
        if (StartsWith(head + 8, "qt  ")) return "a MOV file";
        return "an MP4 file";
    }
    if (StartsWith(head, "FORM") && StartsWith(head + 8, "AIFF")) return "an AIFF file";
    if (StartsWith(head, "FORM") && StartsWith(head + 8, "AIFC")) return "an AIFF-C file";
    return std::nullopt;
}

// Format tags that sox decodes from a WAV file: MS and IMA ADPCM, A-law, mu-law, GSM 6.10.
bool SoxDecodes(uint16_t formatTag) {
    return formatTag == 0x0002 || formatTag == 0x0006 || formatTag == 0x0007 ||
           formatTag == 0x0011 || formatTag == 0x0031;
}

// MPEG audio (layers I to III) in a WAV file, which sox does not decode.
bool FfmpegDecodes(uint16_t formatTag) {
    return formatTag == 0x0050 || formatTag == 0x0055;
}

}  // namespace

int32_t WavReader::Open(const char* path, WavPcmFormat* format) {
    // Checked before anything is touched, so that a bad call leaves an open file usable.
    if (path == nullptr) return kWavReaderNullPath;
    if (format == nullptr) return kWavReaderGenericError;
    Reset();
    file_.reset(fopen64(path, "rb"));
    return OpenFile(format);
}

int32_t WavReader::Open(int descriptor, WavPcmFormat* format) {
    if (format == nullptr) return kWavReaderGenericError;
    Reset();
    // A duplicate, which the reader may close: the descriptor itself stays open.
    const int duplicate = dup(descriptor);
    if (duplicate >= 0) {
        file_.reset(fdopen(duplicate, "rb"));
        if (!file_) {
            const int error = errno;
            close(duplicate);
            errno = error;
        }
    }
    return OpenFile(format);
}

void WavReader::Reset() {
    file_.reset();
    riffHeader_ = RiffHeader();
    formatChunk_ = FormatChunk();
    mediaTime_ = 0;
    dataStart_ = 0;
    dataSize_ = 0;
    position_ = 0;
    fileEnd_ = 0;
    frameSize_ = 0;
    stream_ = false;
    streamEnded_ = false;
    rf64_ = false;
    haveDs64_ = false;
    ds64DataSize_ = 0;
    carried_ = WavCarriedItems();
    warnings_.clear();
    policy_.emplace(carried_.notes);
    systemError_ = 0;
    unsupported_ = UnsupportedInput();
}

int32_t WavReader::OpenFile(WavPcmFormat* format) {
    if (!file_) {
        systemError_ = errno;
        return kWavReaderIoError;
    }
    // A pipe, a socket or a device cannot go back: it is read forward only, once.
    struct stat status {};
    stream_ = fstat(fileno(file_.get()), &status) == 0 &&
              (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || S_ISCHR(status.st_mode));
    const int32_t result = ParseHeaders(format);
    if (result != kWavReaderSuccess) {
        if (std::ferror(file_.get())) systemError_ = errno;
        file_.reset();
    }
    if (result == kWavReaderSuccess) policy_->SumUp();
    return result;
}

int32_t WavReader::MoveFailed() {
    systemError_ = errno;
    return kWavReaderIoError;
}

int32_t WavReader::Unsupported(std::string what, std::optional<std::string> soxOptions) {
    unsupported_ = UnsupportedInput{std::move(what), std::move(soxOptions)};
    return kWavReaderUnsupported;
}

int32_t WavReader::UnsupportedButFfmpegConverts(std::string what) {
    unsupported_ = UnsupportedInput{std::move(what), std::nullopt, true};
    return kWavReaderUnsupported;
}

int32_t WavReader::UnsupportedSamples(std::string what, uint16_t formatTag) {
    if (SoxDecodes(formatTag)) return Unsupported(std::move(what), "-b 24");
    if (FfmpegDecodes(formatTag)) return UnsupportedButFfmpegConverts(std::move(what));
    return Unsupported(std::move(what), std::nullopt);
}

bool WavReader::FormatChunkFitsFile() const {
    struct stat status {};
    // Past the chunk's size field and the 16 bytes of its body read.
    const int64_t bodyStart = ftello64(file_.get()) - 16;
    return !stream_ && bodyStart > 0 && fstat(fileno(file_.get()), &status) == 0 &&
           static_cast<uint64_t>(bodyStart) + formatChunk_.size <=
               static_cast<uint64_t>(status.st_size);
}

int32_t WavReader::ParseHeaders(WavPcmFormat* format) {
    uint8_t raw[12];
    if (!ReadBytes(file_.get(), raw, sizeof raw)) return kWavReaderIoError;
    riffHeader_ = {LoadU32(raw), LoadU32(raw + 4), LoadU32(raw + 8)};
    if ((riffHeader_.id != kRiffId && riffHeader_.id != kRf64Id) ||
        riffHeader_.formType != kWaveId) {
        // Forms that other tools read, and can turn into a RIFF file.
        if (riffHeader_.id == FourCc("RIFX")) return Unsupported("is a big-endian (RIFX) file", "");
        // sox takes a W64 file only by its name's extension, which is ".wav" here.
        if (riffHeader_.id == FourCc("riff")) return UnsupportedButFfmpegConverts("is a W64 file");
        if (const std::optional<std::string> kind = OtherAudioFile(raw)) {
            return UnsupportedButFfmpegConverts("is " + *kind + ", not a WAV file");
        }
        return Unsupported("is not a WAV file", std::nullopt);
    }
    rf64_ = riffHeader_.id == kRf64Id;
    carried_.rf64 = rf64_;

    ChunkWalker walker(file_.get(), !stream_, stopRequested_);
    const int32_t result = WalkToData(walker, format);
    if (walker.SystemError() != 0) systemError_ = walker.SystemError();
    return result;
}

int32_t WavReader::WalkToData(ChunkWalker& walker, WavPcmFormat* format) {
    // Chunks before the audio are kept for the output as the walk passes them.
    const auto keep = [this](uint32_t id, uint32_t size) { return TakeChunk(id, size, true); };
    int32_t result = walker.FindChunk(kFmtId, keep);
    if (result == kWavReaderUnsupported) {
        return Unsupported("has zeros where its chunks belong (a file never written)",
                           std::nullopt);
    }
    if (result == kWavReaderSuccess) result = ReadFormatChunk();
    const bool extensible = formatChunk_.formatTag == kFormatTagExtensible;
    if (result == kWavReaderSuccess && extensible) result = CheckSubFormat();
    if (result != kWavReaderSuccess) return result;

    // Whatever the body held beyond the fields read, the next chunk follows the whole body
    // and its pad byte.
    const uint64_t formatRead = extensible ? 40 : 16;
    if (!walker.Skip(PaddedSize(formatChunk_.size) - formatRead)) return kWavReaderIoError;
    result = walker.FindChunk(kDataId, keep);
    if (result == kWavReaderUnsupported) {
        return Unsupported("has zeros where its chunks belong (a file never written)",
                           std::nullopt);
    }
    if (result != kWavReaderSuccess) return result;

    format->nbChannels = formatChunk_.channels;
    format->samplingRate = formatChunk_.sampleRate;
    format->bitsPerSample = formatChunk_.bitsPerSample;
    mediaTime_ = 0;
    frameSize_ = static_cast<uint32_t>(formatChunk_.channels) * (formatChunk_.bitsPerSample / 8u);
    return LocateData();
}

bool WavReader::StopRequested() const {
    return stopRequested_ != nullptr && stopRequested_();
}

int32_t WavReader::ReadFormatChunk() {
    // The walk stopped past the chunk's identifier.
    uint8_t raw[20];
    if (!ReadBytes(file_.get(), raw, sizeof raw)) return kWavReaderIoError;
    formatChunk_.size = LoadU32(raw);
    formatChunk_.formatTag = LoadU16(raw + 4);
    formatChunk_.channels = LoadU16(raw + 6);
    formatChunk_.sampleRate = LoadU32(raw + 8);
    formatChunk_.byteRate = LoadU32(raw + 12);
    formatChunk_.blockAlign = LoadU16(raw + 16);
    formatChunk_.bitsPerSample = LoadU16(raw + 18);

    // Writers pad the plain chunk to 18, 20 or 40 bytes, and some extend the extensible one:
    // the fields that matter stand at fixed places, and what follows them is not read. No
    // format chunk is longer than its 16-bit extension size lets it be.
    const bool plainPcm = formatChunk_.formatTag == kFormatTagPcm && formatChunk_.size >= 16;
    const bool extensible =
        formatChunk_.formatTag == kFormatTagExtensible && formatChunk_.size >= 40;
    if (formatChunk_.formatTag == kFormatTagFloat) {
        return Unsupported("holds floating-point samples", "-b 24");
    }
    if (formatChunk_.formatTag != kFormatTagPcm && formatChunk_.formatTag != kFormatTagExtensible) {
        return UnsupportedSamples(
            "holds samples of format tag " + std::to_string(formatChunk_.formatTag) + ", not PCM",
            formatChunk_.formatTag);
    }
    if ((!plainPcm && !extensible) || formatChunk_.size > 18 + 0xFFFF) {
        // sox reads past an over-long PCM chunk, as long as the file holds it.
        const bool soxReads = plainPcm && FormatChunkFitsFile();
        return Unsupported("has a format chunk of " + std::to_string(formatChunk_.size) +
                               " bytes, unlike any PCM format",
                           soxReads ? std::optional<std::string>("") : std::nullopt);
    }
    carried_.formatTag = formatChunk_.formatTag;

    switch (formatChunk_.bitsPerSample) {
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default: {
            // sox reads no other width from a WAV file; ffmpeg reads those up to 32 bits, and
            // 64, each in as many whole bytes as it needs.
            std::string what =
                "holds " + std::to_string(formatChunk_.bitsPerSample) + "-bit samples";
            if (formatChunk_.bitsPerSample == 0 ||
                (formatChunk_.bitsPerSample > 32 && formatChunk_.bitsPerSample != 64)) {
                return Unsupported(std::move(what), std::nullopt);
            }
            return UnsupportedButFfmpegConverts(std::move(what));
        }
    }
    // The output's header must be able to describe the same format: its block align field is
    // 16 bits wide and its byte rate 32 bits.
    const uint64_t blockAlign =
        static_cast<uint64_t>(formatChunk_.channels) * (formatChunk_.bitsPerSample / 8u);
    if (blockAlign > 0xFFFF || blockAlign * formatChunk_.sampleRate > 0xFFFFFFFFu) {
        return Unsupported("has more audio per frame or per second than a WAV header can say",
                           std::nullopt);
    }
    return kWavReaderSuccess;
}

int32_t WavReader::CheckSubFormat() {
    // Past the fields read so far: extension size, valid bits, channel mask, sub-format.
    uint8_t extension[24];
    if (!ReadBytes(file_.get(), extension, sizeof extension)) return kWavReaderIoError;
    if (std::memcmp(extension + 8, kPcmSubFormat, sizeof kPcmSubFormat) != 0) {
        // The sub-format starts with the format tag it stands for.
        if (LoadU16(extension + 8) == kFormatTagFloat) {
            return Unsupported("holds floating-point samples", "-b 24");
        }
        return UnsupportedSamples("has an extensible format that is not PCM",
                                  LoadU16(extension + 8));
    }
    carried_.channelMask = LoadU32(extension + 4);
    return kWavReaderSuccess;
}

int32_t WavReader::LocateData() {
    uint8_t raw[4];
    const bool haveSize = ReadBytes(file_.get(), raw, sizeof raw);
    // A file cut off inside the data chunk header still opens, with no samples.
    if (!haveSize) warnings_.emplace_back(kDataSizeWarning);
    const uint32_t sizeField = haveSize ? LoadU32(raw) : 0;

    if (stream_) return LocateStreamData(haveSize, sizeField);

    dataStart_ = ftello64(file_.get());
    if (dataStart_ < 0) return MoveFailed();
    position_ = dataStart_;
    if (fseeko64(file_.get(), 0, SEEK_END) != 0) return MoveFailed();
    fileEnd_ = ftello64(file_.get());
    if (fileEnd_ < 0) return MoveFailed();
    if (fileEnd_ < dataStart_) return kWavReaderIoError;

    if (!haveSize) {
        dataStart_ = fileEnd_;
        position_ = fileEnd_;
        dataSize_ = 0;
    } else if (sizeField == kUnknownSize && !haveDs64_) {
        dataSize_ = static_cast<uint64_t>(fileEnd_ - dataStart_);
    } else if (sizeField == kUnknownSize) {
        dataSize_ = ds64DataSize_;
    } else {
        dataSize_ = sizeField;
    }
    if (haveSize) KeepChunksAfterAudio();
    // Reading from anywhere else would pass the wrong bytes off as samples.
    if (fseeko64(file_.get(), dataStart_, SEEK_SET) != 0) return MoveFailed();
    return kWavReaderSuccess;
}

int32_t WavReader::LocateStreamData(bool haveSize, uint32_t sizeField) {
    // Positions count from the start of the audio: a pipe has none of its own.
    dataStart_ = 0;
    position_ = 0;
    // A writer on a pipe cannot patch the sizes once it knows them: it leaves 0 or all ones,
    // in an RF64 stream a ds64 size of 0 or all ones. The audio then runs to the end.
    const bool ds64Unknown = !haveDs64_ || ds64DataSize_ == 0 || ds64DataSize_ == UINT64_MAX;
    if (!haveSize) {
        dataSize_ = 0;
    } else if (sizeField == 0 || (sizeField == kUnknownSize && ds64Unknown)) {
        dataSize_ = UINT64_MAX;
    } else if (sizeField == kUnknownSize) {
        dataSize_ = ds64DataSize_;
    } else {
        dataSize_ = sizeField;
    }
    return kWavReaderSuccess;
}

uint64_t WavReader::TakeChunk(uint32_t id, uint32_t size, bool beforeAudio) {
    if (id == kDs64Id && rf64_) {
        // Its body: RIFF size, data size and sample count, each 64-bit.
        uint8_t sizes[24];
        const size_t got =
            size >= sizeof sizes ? std::fread(sizes, 1, sizeof sizes, file_.get()) : 0;
        if (got == sizeof sizes) {
            haveDs64_ = true;
            ds64DataSize_ = LoadU64(sizes + 8);
        }
        return got;
    }
    if (!policy_->Carries(id, size)) return 0;
    std::vector<uint8_t>& chunks =
        beforeAudio ? carried_.chunksBeforeAudio : carried_.chunksAfterAudio;
    const size_t start = chunks.size();
    size_t got = 0;
    try {
        // A chunk cut off by the end of the file: the walk that follows finds the file too
        // short.
        if (ReadChunkInto(chunks, id, size, got)) {
            policy_->Carried(size);
            return got;
        }
    } catch (const std::bad_alloc&) {
        // Keeping a chunk is worth no failure of the run: without the memory for it, the audio
        // still goes through.
        policy_->NoMemory();
    }
    chunks.resize(start);
    return got;
}

bool WavReader::ReadChunkInto(std::vector<uint8_t>& chunks, uint32_t id, uint32_t size,
                              size_t& got) {
    const size_t start = chunks.size();
    chunks.resize(start + 8);
    for (int i = 0; i < 4; ++i) {
        chunks[start + i] = static_cast<uint8_t>(id >> (8 * i));
        chunks[start + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    // In steps, so that a chunk claiming more than the file holds takes no more memory than
    // the file.
    constexpr size_t kStep = 1 << 16;
    while (got < size) {
        const size_t step = std::min<size_t>(size - got, kStep);
        chunks.resize(start + 8 + got + step);
        const size_t read = std::fread(chunks.data() + start + 8 + got, 1, step, file_.get());
        got += read;
        if (read < step) return false;
    }
    chunks.resize(start + 8 + PaddedSize(size), 0);
    return true;
}

// The chunks behind the audio are never read by the walk that finds it; they are read here,
// once, and only as far as they make sense: the audio itself does not depend on them.
void WavReader::KeepChunksAfterAudio() {
    const uint64_t end = static_cast<uint64_t>(fileEnd_);
    // Compared before any addition: a data size of nearly 2^64 must not wrap round to an
    // offset inside the file. Audio up to the end leaves nothing behind it.
    if (dataSize_ >= end - static_cast<uint64_t>(dataStart_)) return;
    uint64_t at = DataEnd() + (dataSize_ & 1);
    while (at < end && end - at >= 8) {
        // Walking the rest of a file of many small chunks can take a while.
        if (StopRequested()) return;
        uint8_t header[8];
        if (fseeko64(file_.get(), static_cast<int64_t>(at), SEEK_SET) != 0 ||
            !ReadBytes(file_.get(), header, sizeof header)) {
            break;
        }
        const uint32_t id = LoadU32(header);
        const uint32_t size = LoadU32(header + 4);
        if (!IsChunkId(id) || size > end - at - 8) break;
        TakeChunk(id, size, false);
        // The pad byte of a last chunk may be missing at the end of the file.
        at += 8 + PaddedSize(size);
    }
    if (at < end) {
        policy_->Note("Note: the last " + std::to_string(end - at) +
                      " bytes of the input are not a chunk and are not copied");
    }
}

uint64_t WavReader::MissingDataBytes() const {
    // A writer on a pipe may declare more than it sends: how much is not known in advance.
    if (stream_) return 0;
    const uint64_t there = static_cast<uint64_t>(fileEnd_ - dataStart_);
    return dataSize_ > there ? dataSize_ - there : 0;
}

uint64_t WavReader::DataEnd() const {
    const uint64_t start = static_cast<uint64_t>(dataStart_);
    return start + std::min(dataSize_, std::numeric_limits<uint64_t>::max() - start);
}

// What follows the audio of a stream is read to its end, so that the writer upstream is not
// cut off by a closed pipe; its chunks come too late to be carried.
void WavReader::DrainStream() {
    streamEnded_ = true;
    uint64_t after = 0;
    uint8_t dropped[4096];
    while (!StopRequested()) {
        const size_t got = std::fread(dropped, 1, sizeof dropped, file_.get());
        after += got;
        if (got < sizeof dropped) break;
    }
    // The pad byte of an odd audio region belongs to it.
    if (dataSize_ & 1) after -= std::min<uint64_t>(after, 1);
    if (after > 0) {
        policy_->Note("Note: the input's " + std::to_string(after) +
                      " bytes after its audio are not copied: the chunks after the audio of a "
                      "stream are not carried");
    }
}

int32_t WavReader::Close() {
    file_.reset();
    riffHeader_ = RiffHeader();
    return kWavReaderSuccess;
}

int32_t WavReader::Read(uint8_t* buffer, int64_t* frames, uint64_t* mediaTime) {
    if (!file_) return kWavReaderIoError;
    if (buffer == nullptr || frames == nullptr || mediaTime == nullptr) {
        return kWavReaderGenericError;
    }
    // Without a byte per frame no frame can ever be delivered.
    if (frameSize_ == 0) return kWavReaderEndOfData;

    int64_t delivered = *frames;
    // The request in bytes has to fit a signed 32-bit count.
    if (delivered < 0 || delivered > std::numeric_limits<int32_t>::max() / frameSize_) {
        return kWavReaderGenericError;
    }
    uint64_t length = static_cast<uint64_t>(delivered) * frameSize_;
    const uint64_t position = static_cast<uint64_t>(position_);
    const uint64_t dataEnd = DataEnd();
    if (position > dataEnd || length > dataEnd - position) {
        // A trailing partial frame is still read into the buffer, but not counted.
        length = position < dataEnd ? dataEnd - position : 0;
        delivered = static_cast<int64_t>(length / frameSize_);
    }

    const size_t got = length > 0 ? std::fread(buffer, 1, length, file_.get()) : 0;
    position_ += static_cast<int64_t>(got);
    if (stream_ && !streamEnded_ && static_cast<uint64_t>(position_) == dataEnd) DrainStream();
    if (got == 0) {
        const bool atEnd =
            stream_ ? std::feof(file_.get()) != 0 : ftello64(file_.get()) == fileEnd_;
        if (atEnd || static_cast<uint64_t>(position_) == dataEnd) return kWavReaderEndOfData;
        // An empty request in the middle of the data is no failure.
        if (length > 0) {
            if (std::ferror(file_.get())) systemError_ = errno;
            return kWavReaderIoError;
        }
    } else if (got < length) {
        delivered = static_cast<int64_t>(got / frameSize_);
    }

    // Single precision and a truncation per block on purpose: the time stamps handed on
    // downstream follow exactly this arithmetic. A rate of 0 gives the block no duration.
    const uint64_t ticks = static_cast<uint64_t>(delivered) * 10000u;
    if (formatChunk_.sampleRate != 0) {
        const float framesPerMillisecond = static_cast<float>(formatChunk_.sampleRate) / 1000.0f;
        mediaTime_ += static_cast<uint64_t>(static_cast<float>(ticks) / framesPerMillisecond);
    }
    *frames = delivered;
    *mediaTime = mediaTime_;
    return kWavReaderSuccess;
}
