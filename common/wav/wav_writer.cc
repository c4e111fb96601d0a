// The 64-bit stdio calls must be declared whatever feature macros the compiler sets itself.
#ifndef _LARGEFILE64_SOURCE
#define _LARGEFILE64_SOURCE 1
#endif

#include "wav_writer.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include "output_claim.h"
#include "riff.h"
#include "wav_header.h"

namespace {

// Where the two 32-bit sizes lie this close together, one write updates both, so that no
// instant shows them disagreeing.
constexpr uint64_t kOneWriteSizeSpan = 512;
// How often the sizes are rewritten when the rate gives no second of audio to count by.
constexpr uint64_t kFallbackSizeUpdateBytes = 1 << 20;

bool PwriteBytes(int fd, const std::vector<uint8_t>& bytes, uint64_t offset) {
    return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(bytes.size());
}

}  // namespace

WavWriter::~WavWriter() {
    Close();
}

int32_t WavWriter::Open(const char* path, int16_t channels, uint32_t sampleRate,
                        int16_t bitsPerSample) {
    // Leaves an open file and its count alone, so that its sizes still come out true.
    if (path == nullptr) return kWavWriterNotOpen;
    if (file_ && Close() != kWavWriterSuccess) return kWavWriterIoError;
    channels_ = static_cast<uint16_t>(channels);
    sampleRate_ = sampleRate;
    bitsPerSample_ = static_cast<uint16_t>(bitsPerSample);
    blockAlign_ = WavBlockAlign(channels, bitsPerSample);
    const uint64_t bytesPerSecond = static_cast<uint64_t>(blockAlign_) * sampleRate;
    sizeUpdateInterval_ = bytesPerSecond > 0 ? bytesPerSecond : kFallbackSizeUpdateBytes;
    // A new file should appear under its name with its header already in it: it is made
    // unnamed in the output's directory, given its header, then linked. Where that cannot be
    // done (the name exists, the file system makes no unnamed files), it is opened by name.
    const int32_t unnamed = Claim(path, true);
    return unnamed != kTryByName ? unnamed : Claim(path, false);
}

int32_t WavWriter::Claim(const char* path, bool unnamedFirst) {
    systemError_ = 0;
    dataBytes_ = 0;
    nextSizeUpdate_ = sizeUpdateInterval_;
    headerBytes_ = 0;
    headerWritten_ = false;
    started_ = false;

    claim_ = std::make_unique<OutputClaim>();
    const int32_t taken = claim_->Take(path, unnamedFirst);
    if (taken != kWavWriterSuccess) {
        systemError_ = claim_->SystemError();
        claim_.reset();
        return taken;
    }
    file_.reset(fdopen(claim_->descriptor(), "wb"));
    if (!file_) {
        NoteSystemError(0);
        claim_->GiveBack();
        claim_.reset();
        return kWavWriterIoError;
    }
    claim_->HandOn();
    patchable_ = claim_->regular();
    try {
        header_ = BuildWavHeader(static_cast<int16_t>(channels_), sampleRate_,
                                 static_cast<int16_t>(bitsPerSample_), carried_, !patchable_);
    } catch (const std::bad_alloc&) {
        GiveBackTheOutput();
        return kWavWriterOutOfMemory;
    }
    headerBytes_ = header_.size();
    dataSizeOffset_ = headerBytes_ - 4;
    ds64Offset_ = carried_.rf64 && patchable_ ? kDs64BodyOffset : 0;
    // A file this run creates is a valid WAV file from its first instant, also if the process
    // is killed before any audio comes back from the embedder: without a name, it gets its
    // header before its name; created by name, an instant after.
    if (claim_->created() && !WriteHeader()) {
        // No room for a header: nothing the run created is left behind.
        GiveBackTheOutput();
        return kWavWriterIoError;
    }
    if (claim_->unnamed() && !claim_->Link(path)) {
        GiveBackTheOutput();
        return kTryByName;
    }
    return kWavWriterSuccess;
}

bool WavWriter::WriteHeaderInPlace() {
    // Over an existing file, the header first and the cut after: at every instant the file
    // starts with either what it held or a complete header whose sizes are true.
    const int fd = fileno(file_.get());
    return PwriteBytes(fd, header_, 0) && ftruncate(fd, static_cast<off_t>(header_.size())) == 0 &&
           fseeko(file_.get(), static_cast<off_t>(header_.size()), SEEK_SET) == 0;
}

bool WavWriter::WriteHeader() {
    headerWritten_ = true;
    if (!patchable_) {
        return std::fwrite(header_.data(), 1, header_.size(), file_.get()) == header_.size() &&
               std::fflush(file_.get()) == 0;
    }
    claim_->KeepEarlierStart(header_.size());
    if (WriteHeaderInPlace()) return true;
    if (carried_.chunksBeforeAudio.empty()) return false;
    // A disk too full for the input's chunks may still take the audio: the chunks go first.
    carried_.chunksBeforeAudio = std::vector<uint8_t>();
    try {
        header_ = BuildWavHeader(static_cast<int16_t>(channels_), sampleRate_,
                                 static_cast<int16_t>(bitsPerSample_), carried_, false);
    } catch (const std::bad_alloc&) {
        return false;
    }
    headerBytes_ = header_.size();
    dataSizeOffset_ = headerBytes_ - 4;
    if (!WriteHeaderInPlace()) return false;
    Note(
        "Note: the input's chunks before the audio are not copied: the disk has no room for "
        "them");
    return true;
}

void WavWriter::GiveBackTheOutput() {
    NoteSystemError(0);
    if (file_) __fpurge(file_.get());
    if (claim_) claim_->GiveBack();
    file_.reset();
    claim_.reset();
}

int32_t WavWriter::Start() {
    if (!file_) return kWavWriterNotOpen;
    if (started_) return kWavWriterSuccess;
    started_ = true;
    if (headerWritten_ || WriteHeader()) return kWavWriterSuccess;
    GiveBackTheOutput();
    return kWavWriterIoError;
}

int32_t WavWriter::Write(const uint8_t* data, int32_t length) {
    if (!file_) return kWavWriterNotOpen;
    if (length < 0 || (data == nullptr && length > 0)) return kWavWriterGenericError;
    if (length == 0) return kWavWriterSuccess;
    const int32_t started = Start();
    if (started != kWavWriterSuccess) return started;
    const size_t size = static_cast<size_t>(length);
    if (std::fwrite(data, 1, size, file_.get()) != size) {
        CloseKeepingWhatReachedTheFile();
        return kWavWriterIoError;
    }
    dataBytes_ += size;
    if (patchable_ && dataBytes_ >= nextSizeUpdate_ && !UpdateSizes()) {
        CloseKeepingWhatReachedTheFile();
        return kWavWriterIoError;
    }
    return kWavWriterSuccess;
}

// Once per second of audio: a run killed at any moment (SIGKILL, the OOM killer) leaves a file
// whose header covers all but the last second of its audio, instead of one that claims to
// hold nothing. Nothing is synced: the cost would be a disk flush per second.
bool WavWriter::UpdateSizes() {
    nextSizeUpdate_ = (dataBytes_ / sizeUpdateInterval_ + 1) * sizeUpdateInterval_;
    return std::fflush(file_.get()) == 0 &&
           PatchSizes(fileno(file_.get()), WholeFrameBytes(dataBytes_), 0);
}

uint64_t WavWriter::WholeFrameBytes(uint64_t bytes) const {
    return blockAlign_ > 0 ? bytes - bytes % blockAlign_ : bytes;
}

bool WavWriter::PatchSizes(int fd, uint64_t dataBytes, uint64_t tailBytes) const {
    if (!patchable_) return true;
    const uint64_t riffBytes = headerBytes_ + dataBytes + tailBytes - 8;
    if (ds64Offset_ != 0) {
        // The 32-bit fields keep all ones; the true sizes are those of the "ds64" chunk.
        std::vector<uint8_t> sizes;
        PutU64(sizes, riffBytes);
        PutU64(sizes, dataBytes);
        PutU64(sizes, blockAlign_ > 0 ? dataBytes / blockAlign_ : 0);
        return PwriteBytes(fd, sizes, ds64Offset_);
    }
    const bool fits = riffBytes <= 0xFFFFFFFFu;
    std::vector<uint8_t> riffSize;
    std::vector<uint8_t> dataSize;
    PutU32(riffSize, fits ? static_cast<uint32_t>(riffBytes) : kUnknownSize);
    PutU32(dataSize, fits ? static_cast<uint32_t>(dataBytes) : kUnknownSize);
    if (dataSizeOffset_ + 4 > kOneWriteSizeSpan) {
        return PwriteBytes(fd, riffSize, 4) && PwriteBytes(fd, dataSize, dataSizeOffset_);
    }
    // The header's own bytes between the two fields go along unchanged.
    std::vector<uint8_t> span(header_.begin() + 4,
                              header_.begin() + static_cast<std::ptrdiff_t>(dataSizeOffset_ + 4));
    std::copy(riffSize.begin(), riffSize.end(), span.begin());
    std::copy(dataSize.begin(), dataSize.end(), span.end() - 4);
    return PwriteBytes(fd, span, 4);
}

// Past 4 GiB a RIFF file's sizes say only that the audio runs to the end of the file:
// whatever followed the audio would be read as audio, so nothing does.
bool WavWriter::RiffSizeFits(uint64_t fileBytes) const {
    return ds64Offset_ != 0 || fileBytes - 8 <= 0xFFFFFFFFu;
}

bool WavWriter::WriteTail(uint64_t& tailBytes) {
    tailBytes = 0;
    const std::vector<uint8_t>& chunks = carried_.chunksAfterAudio;
    if (!patchable_) {
        // A stream's audio runs to its end: what followed it would be read as audio.
        if (!chunks.empty()) {
            Note(
                "Note: the input's chunks after the audio are not copied: a stream cannot say "
                "where its audio ends");
        }
        return true;
    }
    if (dataBytes_ % 2 != 0 && RiffSizeFits(headerBytes_ + dataBytes_ + 1)) {
        if (std::fputc(0, file_.get()) == EOF) return false;
        tailBytes = 1;
    }
    if (chunks.empty()) return true;
    if (!RiffSizeFits(headerBytes_ + dataBytes_ + tailBytes + chunks.size())) {
        Note(
            "Note: the input's chunks after the audio are not copied: past 4 GiB a RIFF file "
            "cannot say where its audio ends");
        return true;
    }
    if (std::fwrite(chunks.data(), 1, chunks.size(), file_.get()) != chunks.size()) return false;
    tailBytes += chunks.size();
    return true;
}

// Also after a failure while completing the file: the chunks that follow the audio are then
// not written, and only the audio that reached the file is kept.
void WavWriter::CloseKeepingWhatReachedTheFile(uint64_t dataLimit) {
    NoteSystemError(0);
    std::FILE* const file = file_.release();
    // What stdio still holds never reached the file; flushed later it would land behind the
    // sizes written here.
    __fpurge(file);
    const int fd = fileno(file);
    struct stat status {};
    if (patchable_ && headerWritten_ && fstat(fd, &status) == 0 &&
        static_cast<uint64_t>(status.st_size) >= headerBytes_) {
        const uint64_t reached = static_cast<uint64_t>(status.st_size) - headerBytes_;
        const uint64_t whole = WholeFrameBytes(std::min(reached, dataLimit));
        // An odd audio region gets its pad byte only where the file already has a byte to
        // spare. Shrinking a file and rewriting bytes it already holds need no free space, so
        // this works on a full disk too.
        uint64_t pad =
            whole % 2 != 0 && reached > whole && RiffSizeFits(headerBytes_ + whole + 1) ? 1 : 0;
        if (pad != 0 && !PwriteBytes(fd, {0}, headerBytes_ + whole)) pad = 0;
        if (ftruncate(fd, static_cast<off_t>(headerBytes_ + whole + pad)) == 0) {
            PatchSizes(fd, whole, pad);
        }
    }
    std::fclose(file);
    claim_.reset();
}

int32_t WavWriter::Close() {
    if (file_) {
        const int32_t started = Start();
        if (started != kWavWriterSuccess) return started;
        if (std::fflush(file_.get()) != 0) {
            CloseKeepingWhatReachedTheFile();
            return kWavWriterIoError;
        }
        uint64_t tailBytes = 0;
        if (!WriteTail(tailBytes) || std::fflush(file_.get()) != 0) {
            CloseKeepingWhatReachedTheFile(dataBytes_);
            return kWavWriterIoError;
        }
        const int fd = fileno(file_.get());
        bool ok = PatchSizes(fd, dataBytes_, tailBytes) || NoteSystemError(false);
        // A completed file is on the disk before the run says so: audio, sizes, and for a
        // file this writer made, its name. A FIFO or a device has nothing to keep.
        ok = ok && (!patchable_ || SyncDescriptor(fd) || NoteSystemError(false));
        ok = (CloseStdioFile(file_) || NoteSystemError(false)) && ok;
        ok = ok && (!patchable_ || !claim_->created() || claim_->SyncDirectory() ||
                    NoteSystemError(false));
        claim_.reset();
        if (!ok) return kWavWriterIoError;
    }
    dataBytes_ = 0;
    return kWavWriterSuccess;
}

int32_t WavWriter::Discard() {
    if (!file_) return kWavWriterSuccess;
    if (started_) return Close();
    // A file this writer created goes; an existing one was not touched.
    GiveBackTheOutput();
    return kWavWriterSuccess;
}
