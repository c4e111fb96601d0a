// The 64-bit stdio calls must be declared whatever feature macros the compiler sets itself.
#ifndef _LARGEFILE64_SOURCE
#define _LARGEFILE64_SOURCE 1
#endif

#include "wav_writer.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <new>
#include <utility>

#include "output_claim.h"
#include "riff.h"
#include "wav_header.h"

namespace {

// One write within the first page of a file is never torn by a kill: the kernel copies a
// write page by page and stops between pages only. Whatever must change at one instant (a
// small header, both 32-bit sizes) is written so.
constexpr uint64_t kOnePage = 4096;
// How often the sizes are rewritten when the rate gives no second of audio to count by.
constexpr uint64_t kFallbackSizeUpdateBytes = 1 << 20;
// Ways to take the output before giving up: each way of making a new file, once more should
// another file take the name meanwhile.
constexpr int kClaimAttempts = 6;

// Writes all of `size` bytes at `offset`: a short write is followed by another, which tells
// why the rest does not go (errno).
bool PwriteAll(int fd, const uint8_t* bytes, uint64_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<uint64_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool PwriteAll(int fd, const std::vector<uint8_t>& bytes, uint64_t offset) {
    return PwriteAll(fd, bytes.data(), bytes.size(), offset);
}

}  // namespace

WavWriter::~WavWriter() {
    Close();
}

void WavWriter::SetFormat(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample) {
    channels_ = static_cast<uint16_t>(channels);
    sampleRate_ = sampleRate;
    bitsPerSample_ = static_cast<uint16_t>(bitsPerSample);
    blockAlign_ = WavBlockAlign(channels, bitsPerSample);
    const uint64_t bytesPerSecond = static_cast<uint64_t>(blockAlign_) * sampleRate;
    sizeUpdateInterval_ = bytesPerSecond > 0 ? bytesPerSecond : kFallbackSizeUpdateBytes;
}

int32_t WavWriter::Open(const char* path, int16_t channels, uint32_t sampleRate,
                        int16_t bitsPerSample) {
    // Leaves an open file and its count alone, so that its sizes still come out true.
    if (path == nullptr) return kWavWriterNotOpen;
    if (IsOpen() && Close() != kWavWriterSuccess) return kWavWriterIoError;
    SetFormat(channels, sampleRate, bitsPerSample);
    // A new file should appear under its name with its header already in it: it is made
    // unnamed, or under a hidden name, in the output's directory, given its header, then
    // named; only where neither can be done is it made by its name at once.
    const OutputClaim::NewFile ways[] = {OutputClaim::NewFile::kUnnamed,
                                         OutputClaim::NewFile::kTempName,
                                         OutputClaim::NewFile::kDirectly};
    size_t way = 0;
    int32_t result = kWavWriterIoError;
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        ClaimRetry retry = ClaimRetry::kNo;
        result = Claim([&](OutputClaim& claim) { return claim.Take(path, ways[way]); }, retry);
        if (retry == ClaimRetry::kNo) break;
        // Another file that took the name meanwhile is taken as an existing one next time.
        if (retry == ClaimRetry::kAnotherWay && ++way == std::size(ways)) break;
    }
    return result;
}

int32_t WavWriter::OpenStandardOutput(int16_t channels, uint32_t sampleRate,
                                      int16_t bitsPerSample) {
    if (IsOpen() && Close() != kWavWriterSuccess) return kWavWriterIoError;
    SetFormat(channels, sampleRate, bitsPerSample);
    ClaimRetry retry = ClaimRetry::kNo;
    return Claim([](OutputClaim& claim) { return claim.TakeStandardOutput(); }, retry);
}

int32_t WavWriter::Claim(const std::function<int32_t(OutputClaim&)>& take, ClaimRetry& retry) {
    systemError_ = 0;
    dataBytes_ = 0;
    nextSizeUpdate_ = sizeUpdateInterval_;
    headerBytes_ = 0;
    headerWritten_ = false;
    started_ = false;
    abandoned_ = false;

    claim_ = std::make_unique<OutputClaim>();
    const int32_t taken = take(*claim_);
    if (taken != kWavWriterSuccess) {
        systemError_ = claim_->SystemError();
        retry = taken == OutputClaim::kTryAnotherWay ? ClaimRetry::kAnotherWay
                : claim_->NameTaken()                ? ClaimRetry::kNameTaken
                                                     : ClaimRetry::kNo;
        claim_.reset();
        return taken == OutputClaim::kTryAnotherWay ? kWavWriterIoError : taken;
    }
    patchable_ = claim_->regular();
    if (patchable_) {
        file_.reset(fdopen(claim_->descriptor(), "wb"));
        if (!file_) {
            GiveBackTheOutput();
            return kWavWriterIoError;
        }
        claim_->HandOn();
    } else {
        try {
            stream_ = std::make_unique<StallableOutput>(claim_->descriptor(),
                                                        claim_->ownDescription(), stopRequested_);
        } catch (const std::bad_alloc&) {
            GiveBackTheOutput();
            return kWavWriterOutOfMemory;
        }
    }
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
    // A file this run creates is a valid WAV file from the instant it has its name, also if
    // the process is killed before any audio comes back from the embedder: it gets its
    // header first.
    if (!claim_->created()) return kWavWriterSuccess;
    if (!WriteHeader()) {
        // No room for a header: nothing the run created is left behind.
        GiveBackTheOutput();
        return kWavWriterIoError;
    }
    if (!claim_->GiveName()) {
        retry = claim_->NameTaken() ? ClaimRetry::kNameTaken : ClaimRetry::kAnotherWay;
        systemError_ = claim_->SystemError();
        GiveBackTheOutput();
        return kWavWriterIoError;
    }
    return kWavWriterSuccess;
}

bool WavWriter::WriteToStream(const uint8_t* data, uint64_t size) {
    if (abandoned_) return false;
    const StallableOutput::Written written = stream_->Write(data, size);
    abandoned_ = written.abandoned;
    if (written.error != 0 && systemError_ == 0) systemError_ = written.error;
    return written.bytes == size;
}

bool WavWriter::WriteHeader() {
    headerWritten_ = true;
    if (!patchable_) return WriteToStream(header_.data(), header_.size());
    if (!claim_->created() && header_.size() > kOnePage && WriteHeaderBeside()) return true;
    if (!claim_->created()) claim_->KeepEarlierStart(header_.size());
    if (WriteHeaderOver()) return true;
    if (carried_.chunksBeforeAudio.empty()) return false;
    // A disk too full for the input's chunks may still take the audio: the chunks go first.
    NoteSystemError(0);
    carried_.chunksBeforeAudio = std::vector<uint8_t>();
    try {
        header_ = BuildWavHeader(static_cast<int16_t>(channels_), sampleRate_,
                                 static_cast<int16_t>(bitsPerSample_), carried_, false);
    } catch (const std::bad_alloc&) {
        return false;
    }
    headerBytes_ = header_.size();
    dataSizeOffset_ = headerBytes_ - 4;
    if (!WriteHeaderOver()) return false;
    systemError_ = 0;
    Note(
        "Note: the input's chunks before the audio are not copied: the disk has no room for "
        "them");
    return true;
}

bool WavWriter::WriteHeaderOver() {
    const int fd = fileno(file_.get());
    // A file the claim made has no name yet: nobody sees it before it is whole.
    if (header_.size() > kOnePage && !claim_->created()) {
        // Too big to go in at one instant, and no replacement could be had (standard output):
        // first a header without the input's chunks, in one write, and the file cut to it,
        // then the rest of the big header behind it, and last its start, again in one write.
        // Only while the rest is written does an empty WAV file have bytes behind it.
        WavCarriedItems bare;
        bare.channelMask = carried_.channelMask;
        bare.formatTag = carried_.formatTag;
        bare.rf64 = carried_.rf64;
        std::vector<uint8_t> small;
        try {
            small = BuildWavHeader(static_cast<int16_t>(channels_), sampleRate_,
                                   static_cast<int16_t>(bitsPerSample_), bare, false);
        } catch (const std::bad_alloc&) {
            return false;
        }
        const uint64_t start = small.size();
        if (!PwriteAll(fd, small, 0) || ftruncate(fd, static_cast<off_t>(start)) != 0 ||
            !PwriteAll(fd, header_.data() + start, header_.size() - start, start) ||
            !PwriteAll(fd, header_.data(), start, 0)) {
            return NoteSystemError(false);
        }
    } else if (!PwriteAll(fd, header_, 0)) {
        return NoteSystemError(false);
    }
    return (ftruncate(fd, static_cast<off_t>(headerBytes_)) == 0 || NoteSystemError(false)) &&
           fseeko(file_.get(), static_cast<off_t>(headerBytes_), SEEK_SET) == 0;
}

bool WavWriter::WriteHeaderBeside() {
    const int fd = claim_->MakeReplacement();
    if (fd < 0) return false;
    if (!PwriteAll(fd, header_, 0) || !claim_->SwapIn()) {
        // Left as it was; the header goes over it after all, as far as it fits.
        NoteSystemError(0);
        return false;
    }
    systemError_ = 0;
    file_.reset(fdopen(claim_->descriptor(), "wb"));
    if (!file_) return NoteSystemError(false);
    claim_->HandOn();
    return fseeko(file_.get(), static_cast<off_t>(headerBytes_), SEEK_SET) == 0 ||
           NoteSystemError(false);
}

void WavWriter::GiveBackTheOutput() {
    NoteSystemError(0);
    if (file_) __fpurge(file_.get());
    if (claim_) claim_->GiveBack();
    file_.reset();
    stream_.reset();
    claim_.reset();
}

int32_t WavWriter::Start() {
    if (!IsOpen()) return kWavWriterNotOpen;
    if (started_) return abandoned_ ? kWavWriterAbandoned : kWavWriterSuccess;
    started_ = true;
    if (headerWritten_ || WriteHeader()) return kWavWriterSuccess;
    if (abandoned_) return kWavWriterAbandoned;
    GiveBackTheOutput();
    return kWavWriterIoError;
}

int32_t WavWriter::Write(const uint8_t* data, int32_t length) {
    if (!IsOpen()) return kWavWriterNotOpen;
    if (length < 0 || (data == nullptr && length > 0)) return kWavWriterGenericError;
    if (length == 0) return kWavWriterSuccess;
    const int32_t started = Start();
    if (started != kWavWriterSuccess) return started;
    const size_t size = static_cast<size_t>(length);
    if (stream_) {
        if (WriteToStream(data, size)) {
            dataBytes_ += size;
            return kWavWriterSuccess;
        }
        if (abandoned_) return kWavWriterAbandoned;
        stream_.reset();
        claim_.reset();
        return kWavWriterIoError;
    }
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
        return PwriteAll(fd, sizes, ds64Offset_);
    }
    const bool fits = riffBytes <= 0xFFFFFFFFu;
    std::vector<uint8_t> riffSize;
    std::vector<uint8_t> dataSize;
    PutU32(riffSize, fits ? static_cast<uint32_t>(riffBytes) : kUnknownSize);
    PutU32(dataSize, fits ? static_cast<uint32_t>(dataBytes) : kUnknownSize);
    if (dataSizeOffset_ + 4 > kOnePage) {
        // The two fields lie pages apart: the data size first, so that at every instant the
        // audio chunk is true about the audio on the disk, and the RIFF size at most behind it
        // (readers take the audio chunk as it says).
        return PwriteAll(fd, dataSize, dataSizeOffset_) && PwriteAll(fd, riffSize, 4);
    }
    // Both in one write within the first page; the header's own bytes between the two fields
    // go along unchanged.
    std::vector<uint8_t> span(header_.begin() + 4,
                              header_.begin() + static_cast<std::ptrdiff_t>(dataSizeOffset_ + 4));
    std::copy(riffSize.begin(), riffSize.end(), span.begin());
    std::copy(dataSize.begin(), dataSize.end(), span.end() - 4);
    return PwriteAll(fd, span, 4);
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
        if (pad != 0 && !PwriteAll(fd, {0}, headerBytes_ + whole)) pad = 0;
        if (ftruncate(fd, static_cast<off_t>(headerBytes_ + whole + pad)) == 0) {
            PatchSizes(fd, whole, pad);
        }
    }
    std::fclose(file);
    claim_.reset();
}

int32_t WavWriter::Close() {
    if (stream_) {
        const int32_t started = Start();
        uint64_t tailBytes = 0;
        WriteTail(tailBytes);
        stream_.reset();
        claim_.reset();
        dataBytes_ = 0;
        return started == kWavWriterAbandoned || abandoned_ ? kWavWriterAbandoned : started;
    }
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
        ok = ok && (SyncDescriptor(fd) || NoteSystemError(false));
        ok = (CloseStdioFile(file_) || NoteSystemError(false)) && ok;
        ok = ok && (claim_->SyncDirectory() || NoteSystemError(false));
        claim_.reset();
        if (!ok) return kWavWriterIoError;
    }
    dataBytes_ = 0;
    return kWavWriterSuccess;
}

int32_t WavWriter::Discard() {
    if (!IsOpen()) return kWavWriterSuccess;
    if (started_) return Close();
    // A file this writer created goes; an existing one was not touched.
    GiveBackTheOutput();
    return kWavWriterSuccess;
}
