// The 64-bit stdio calls must be declared whatever feature macros the compiler sets itself.
#ifndef _LARGEFILE64_SOURCE
#define _LARGEFILE64_SOURCE 1
#endif

#include "wav_pcm_muxer_impl.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <utility>

namespace {

constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint16_t kFormatTagPcm = 1;
constexpr uint16_t kFormatTagExtensible = 0xFFFE;
// Both size fields carry this when the real sizes do not fit them: readers take the data
// as running to the end of the file instead of trusting a wrapped count.
constexpr uint32_t kOversizedField = 0xFFFFFFFF;
// Size fields of a header without samples.
constexpr uint32_t kEmptyRiffSize = 36;
constexpr uint32_t kEmptyDataSize = 0;
// The "ds64" chunk of an RF64 file comes first, its body holding the RIFF size, the data size
// and the frame count, 64 bits each, then an empty table of other chunks' sizes.
constexpr uint64_t kDs64BodyOffset = 20;
constexpr uint32_t kDs64BodySize = 28;
// How often the sizes are rewritten when the rate gives no second of audio to count by.
constexpr uint64_t kFallbackSizeUpdateBytes = 1 << 20;

void PutU16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutU64(std::vector<uint8_t>& bytes, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutId(std::vector<uint8_t>& bytes, const char (&id)[5]) {
    bytes.insert(bytes.end(), id, id + 4);
}

uint32_t ChannelMask(int16_t channels) {
    const uint16_t count = static_cast<uint16_t>(channels);
    return count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1u;
}

// The block align field is 16 bits wide; the byte rate follows from what it holds.
uint16_t BlockAlign(int16_t channels, int16_t bitsPerSample) {
    return static_cast<uint16_t>(channels * (bitsPerSample / 8));
}

// Up to 16 bits the plain PCM format chunk, above it the extensible one; the extensible one
// also where the input names other speakers than the first `channels`, which is all a plain
// chunk can say. Then the chunks the input had before its audio, and the data chunk header.
// An input with nothing else gets the bare 44- or 68-byte header. All sizes are those of a
// file without samples.
std::vector<uint8_t> BuildHeader(int16_t channels, uint32_t sampleRate, int16_t bitsPerSample,
                                 const WavCarriedItems& carried) {
    const uint32_t mask = carried.channelMask != 0 ? carried.channelMask : ChannelMask(channels);
    const bool otherSpeakers = mask != ChannelMask(channels);
    const bool extensible = bitsPerSample > 16 || otherSpeakers;
    const bool bare = !otherSpeakers && !carried.rf64 && carried.chunksBeforeAudio.empty();
    const uint16_t blockAlign = BlockAlign(channels, bitsPerSample);
    std::vector<uint8_t> header;
    if (carried.rf64) {
        PutId(header, "RF64");
        PutU32(header, kOversizedField);
        PutId(header, "WAVE");
        PutId(header, "ds64");
        PutU32(header, kDs64BodySize);
        PutU64(header, 0);  // RIFF size, set below
        PutU64(header, 0);  // data size
        PutU64(header, 0);  // frame count
        PutU32(header, 0);  // table length
    } else {
        PutId(header, "RIFF");
        PutU32(header, kEmptyRiffSize);
        PutId(header, "WAVE");
    }
    PutId(header, "fmt ");
    PutU32(header, extensible ? 40 : 16);
    PutU16(header, extensible ? kFormatTagExtensible : kFormatTagPcm);
    PutU16(header, static_cast<uint16_t>(channels));
    PutU32(header, sampleRate);
    PutU32(header, static_cast<uint32_t>(blockAlign) * sampleRate);
    PutU16(header, blockAlign);
    PutU16(header, static_cast<uint16_t>(bitsPerSample));
    if (extensible) {
        PutU16(header, 22);
        PutU16(header, static_cast<uint16_t>(bitsPerSample));
        PutU32(header, mask);
        header.insert(header.end(), kPcmSubFormat, kPcmSubFormat + sizeof kPcmSubFormat);
    }
    header.insert(header.end(), carried.chunksBeforeAudio.begin(), carried.chunksBeforeAudio.end());
    PutId(header, "data");
    PutU32(header, carried.rf64 ? kOversizedField : kEmptyDataSize);

    // The bare forms keep the RIFF size they have always started with; every other header
    // starts with the true size of a file without samples.
    const uint64_t emptyRiffSize = header.size() - 8;
    std::vector<uint8_t> size;
    if (carried.rf64) {
        PutU64(size, emptyRiffSize);
        std::copy(size.begin(), size.end(), header.begin() + kDs64BodyOffset);
    } else if (!bare) {
        PutU32(size, static_cast<uint32_t>(emptyRiffSize));
        std::copy(size.begin(), size.end(), header.begin() + 4);
    }
    return header;
}

bool PwriteBytes(int fd, const std::vector<uint8_t>& bytes, uint64_t offset) {
    return pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
           static_cast<ssize_t>(bytes.size());
}

bool PwriteU32(int fd, uint32_t value, uint64_t offset) {
    std::vector<uint8_t> bytes;
    PutU32(bytes, value);
    return PwriteBytes(fd, bytes, offset);
}

// An open descriptor, closed on scope exit unless handed on.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Opens the output for writing without truncating it. `created` tells whether this call made
// the file, so that it can be removed again if the run never starts its audio.
int OpenOutput(const char* path, bool& created) {
    constexpr int kFlags = O_WRONLY | O_CLOEXEC;
    constexpr mode_t kMode = 0666;  // the umask applies, as for any file a program creates
    created = false;
    int fd = open(path, kFlags | O_CREAT | O_EXCL, kMode);
    if (fd >= 0) {
        created = true;
        return fd;
    }
    if (errno != EEXIST) return -1;
    fd = open(path, kFlags);
    // A link to a file that does not exist yet: the target is created through it.
    if (fd < 0 && errno == ENOENT) fd = open(path, kFlags | O_CREAT, kMode);
    return fd;
}

}  // namespace

CWAVPCMMuxer::~CWAVPCMMuxer() {
    Close();
}

int32_t CWAVPCMMuxer::Open(const char* path, int16_t channels, uint32_t sampleRate,
                           int16_t bitsPerSample) {
    // Leaves an open file and its count alone, so that its sizes still come out true.
    if (path == nullptr) return kWavMuxerNotOpen;
    if (file_ && Close() != kWavMuxerSuccess) return kWavMuxerIoError;
    // Built before the output is touched: the chunks it holds may take megabytes.
    std::vector<uint8_t> header;
    try {
        header = BuildHeader(channels, sampleRate, bitsPerSample, carried_);
    } catch (const std::bad_alloc&) {
        return kWavMuxerOutOfMemory;
    }

    dataBytes_ = 0;
    headerBytes_ = 0;
    started_ = false;
    createdPath_.clear();

    bool created = false;
    Descriptor fd(OpenOutput(path, created));
    if (fd.get() < 0) return kWavMuxerIoError;
    struct stat status {};
    if (fstat(fd.get(), &status) != 0) return kWavMuxerIoError;
    // Two runs writing one file would leave a splice of both, or sizes that belong to the
    // other's data. Only regular files: any number of runs may write to /dev/null or to
    // FIFOs of their own. A file system that cannot lock gets the file unlocked.
    if (S_ISREG(status.st_mode) && flock(fd.get(), LOCK_EX | LOCK_NB) != 0 &&
        errno == EWOULDBLOCK) {
        // Not ours to remove: the holder may just have created it.
        return kWavMuxerInUse;
    }
    file_.reset(fdopen(fd.get(), "wb"));
    if (!file_) {
        if (created) unlink(path);
        return kWavMuxerIoError;
    }
    fd.release();

    patchable_ = S_ISREG(status.st_mode);
    if (created) {
        createdPath_ = path;
        createdDevice_ = status.st_dev;
        createdInode_ = status.st_ino;
    }
    header_ = std::move(header);
    headerBytes_ = header_.size();
    dataSizeOffset_ = headerBytes_ - 4;
    ds64Offset_ = carried_.rf64 ? kDs64BodyOffset : 0;
    blockAlign_ = BlockAlign(channels, bitsPerSample);
    const uint64_t bytesPerSecond = static_cast<uint64_t>(blockAlign_) * sampleRate;
    sizeUpdateInterval_ = bytesPerSecond > 0 ? bytesPerSecond : kFallbackSizeUpdateBytes;
    nextSizeUpdate_ = sizeUpdateInterval_;
    return kWavMuxerSuccess;
}

bool CWAVPCMMuxer::Start() {
    started_ = true;
    if (patchable_ && ftruncate(fileno(file_.get()), 0) != 0) return false;
    return std::fwrite(header_.data(), 1, header_.size(), file_.get()) == header_.size() &&
           std::fflush(file_.get()) == 0;
}

int32_t CWAVPCMMuxer::Write(const uint8_t* data, int32_t length) {
    if (!file_) return kWavMuxerNotOpen;
    if (length < 0 || (data == nullptr && length > 0)) return kWavMuxerGenericError;
    if (length == 0) return kWavMuxerSuccess;
    if (!started_ && !Start()) {
        CloseKeepingWhatReachedTheFile();
        return kWavMuxerIoError;
    }
    const size_t size = static_cast<size_t>(length);
    if (std::fwrite(data, 1, size, file_.get()) != size) {
        CloseKeepingWhatReachedTheFile();
        return kWavMuxerIoError;
    }
    dataBytes_ += size;
    if (patchable_ && dataBytes_ >= nextSizeUpdate_ && !UpdateSizes()) {
        CloseKeepingWhatReachedTheFile();
        return kWavMuxerIoError;
    }
    return kWavMuxerSuccess;
}

// Once per second of audio: a run killed at any moment (SIGKILL, the OOM killer) leaves a file
// whose header covers all but the last second of its audio, instead of one that claims to
// hold nothing. Nothing is synced: the cost would be a disk flush per second.
bool CWAVPCMMuxer::UpdateSizes() {
    nextSizeUpdate_ = (dataBytes_ / sizeUpdateInterval_ + 1) * sizeUpdateInterval_;
    return std::fflush(file_.get()) == 0 &&
           PatchSizes(fileno(file_.get()), WholeFrameBytes(dataBytes_), 0);
}

uint64_t CWAVPCMMuxer::WholeFrameBytes(uint64_t bytes) const {
    return blockAlign_ > 0 ? bytes - bytes % blockAlign_ : bytes;
}

bool CWAVPCMMuxer::PatchSizes(int fd, uint64_t dataBytes, uint64_t tailBytes) const {
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
    const uint32_t riffSize = fits ? static_cast<uint32_t>(riffBytes) : kOversizedField;
    const uint32_t dataSize = fits ? static_cast<uint32_t>(dataBytes) : kOversizedField;
    return PwriteU32(fd, riffSize, 4) && PwriteU32(fd, dataSize, dataSizeOffset_);
}

// Past 4 GiB a RIFF file's sizes say only that the audio runs to the end of the file:
// whatever followed the audio would be read as audio, so nothing does.
bool CWAVPCMMuxer::RiffSizeFits(uint64_t fileBytes) const {
    return ds64Offset_ != 0 || fileBytes - 8 <= 0xFFFFFFFFu;
}

bool CWAVPCMMuxer::WriteTail(uint64_t& tailBytes) {
    tailBytes = 0;
    if (dataBytes_ % 2 != 0 && RiffSizeFits(headerBytes_ + dataBytes_ + 1)) {
        if (std::fputc(0, file_.get()) == EOF) return false;
        tailBytes = 1;
    }
    const std::vector<uint8_t>& chunks = carried_.chunksAfterAudio;
    if (chunks.empty()) return true;
    if (!RiffSizeFits(headerBytes_ + dataBytes_ + tailBytes + chunks.size())) {
        std::fputs(
            "Note: the input's chunks after the audio are not copied: past 4 GiB a RIFF file "
            "cannot say where its audio ends\n",
            stderr);
        return true;
    }
    if (std::fwrite(chunks.data(), 1, chunks.size(), file_.get()) != chunks.size()) return false;
    tailBytes += chunks.size();
    return true;
}

// Also after a failure while completing the file: the chunks that follow the audio are then
// not written, and only the audio that reached the file is kept.
void CWAVPCMMuxer::CloseKeepingWhatReachedTheFile(uint64_t dataLimit) {
    std::FILE* const file = file_.release();
    // What stdio still holds never reached the file; flushed later it would land behind the
    // sizes written here.
    __fpurge(file);
    const int fd = fileno(file);
    struct stat status {};
    if (patchable_ && fstat(fd, &status) == 0 &&
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
}

int32_t CWAVPCMMuxer::Close() {
    if (file_) {
        const bool flushed = (started_ || Start()) && std::fflush(file_.get()) == 0;
        if (!flushed) {
            CloseKeepingWhatReachedTheFile();
            return kWavMuxerIoError;
        }
        uint64_t tailBytes = 0;
        if (!WriteTail(tailBytes) || std::fflush(file_.get()) != 0) {
            CloseKeepingWhatReachedTheFile(dataBytes_);
            return kWavMuxerIoError;
        }
        bool ok = PatchSizes(fileno(file_.get()), dataBytes_, tailBytes);
        ok = CloseStdioFile(file_) && ok;
        if (!ok) return kWavMuxerIoError;
    }
    dataBytes_ = 0;
    return kWavMuxerSuccess;
}

int32_t CWAVPCMMuxer::Discard() {
    if (!file_) return kWavMuxerSuccess;
    if (started_) return Close();
    if (!createdPath_.empty()) {
        // Only the file this writer made: the path may have been replaced meanwhile.
        struct stat status {};
        if (lstat(createdPath_.c_str(), &status) == 0 && status.st_dev == createdDevice_ &&
            status.st_ino == createdInode_) {
            unlink(createdPath_.c_str());
        }
    }
    file_.reset();
    return kWavMuxerSuccess;
}

IWavPcmMuxer* CreateWavPcmMuxer() {
    return new (std::nothrow) CWAVPCMMuxer();
}

int32_t DestroyWavPcmMuxer(IWavPcmMuxer*& muxer) {
    delete dynamic_cast<CWAVPCMMuxer*>(muxer);
    muxer = nullptr;
    return 0;
}
