#include "wav_record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace standin {
namespace {

constexpr uint32_t kSampleRate = 48000;
constexpr uint64_t kHeaderBytes = 44;

void PutLe(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool IsWritableDirectory(const char* directory) {
    struct stat info {};
    return ::stat(directory, &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(directory, W_OK | X_OK) == 0;
}

std::unique_ptr<WavRecord> WavRecord::Create(const std::string& directory, int32_t channels,
                                             int32_t bitsPerSample) {
    auto record = std::make_unique<WavRecord>(directory + "/" + kFileName, channels, bitsPerSample);
    if (!record->file_ || !record->WriteHeader()) return nullptr;
    return record;
}

WavRecord::WavRecord(const std::string& path, int32_t channels, int32_t bitsPerSample)
    : file_(std::fopen(path.c_str(), "wb")), channels_(channels), bitsPerSample_(bitsPerSample) {}

WavRecord::~WavRecord() {
    if (file_) Finish();
}

bool WavRecord::WriteHeader() {
    // Sizes beyond what the header can hold are clamped; the audio itself is all there.
    const auto dataSize = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFFFu - 37));
    const uint32_t padding = dataSize % 2;  // a RIFF chunk of odd size is followed by a pad byte
    const auto blockAlign = static_cast<uint32_t>(channels_ * (bitsPerSample_ / 8));
    std::array<uint8_t, kHeaderBytes> header{};
    std::copy_n("RIFF", 4, header.begin());
    PutLe(&header[4], 36 + dataSize + padding, 4);
    std::copy_n("WAVEfmt ", 8, header.begin() + 8);
    PutLe(&header[16], 16, 4);  // size of the format chunk
    PutLe(&header[20], 1, 2);   // integer PCM
    PutLe(&header[22], static_cast<uint32_t>(channels_), 2);
    PutLe(&header[24], kSampleRate, 4);
    PutLe(&header[28], kSampleRate * blockAlign, 4);
    PutLe(&header[32], blockAlign, 2);
    PutLe(&header[34], static_cast<uint32_t>(bitsPerSample_), 2);
    std::copy_n("data", 4, header.begin() + 36);
    PutLe(&header[40], dataSize, 4);
    return std::fseek(file_.get(), 0, SEEK_SET) == 0 &&
           std::fwrite(header.data(), 1, header.size(), file_.get()) == header.size();
}

void WavRecord::Write(const uint8_t* data, std::size_t size) {
    if (!file_ || failed_ || size == 0) return;
    if (bitsPerSample_ == 24) {
        packed_.resize(size / 4 * 3);
        for (std::size_t word = 0; word < size / 4; ++word) {
            std::copy_n(data + 4 * word + 1, 3, packed_.begin() + 3 * word);
        }
        data = packed_.data();
        size = packed_.size();
    }
    if (std::fwrite(data, 1, size, file_.get()) != size) failed_ = true;
    dataBytes_ += size;
}

bool WavRecord::Finish() {
    if (!file_) return !failed_;
    if (dataBytes_ % 2 != 0 && std::fputc(0, file_.get()) == EOF) failed_ = true;
    if (std::fflush(file_.get()) != 0 || !WriteHeader()) failed_ = true;
    if (std::fclose(file_.release()) != 0) failed_ = true;
    return !failed_;
}

}  // namespace standin
