// Fuzz target: the WAV reader over arbitrary file contents. The bytes are written to a file
// (in /dev/shm when there is one), opened as both programs open their input, and read block
// by block to the end, as the drivers read them.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_targets.h"
#include "wav_reader.h"

namespace {

constexpr int64_t kFramesPerBlock = 512;
// A format with many wide channels would make every run allocate a huge block.
constexpr uint64_t kMaxBlockBytes = 1 << 20;

const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/pellion_fuzz_wav_" + std::to_string(getpid()) + ".wav";
    }();
    return path;
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_wav_reader: %s\n", what);
    std::abort();
}

void ReadToTheEnd(const std::string& path, size_t fileSize) {
    const auto reader = std::make_unique<WavReader>();
    WavPcmFormat format{};
    if (reader->Open(path.c_str(), &format) == kWavReaderSuccess) {
        const uint64_t frameBytes = format.nbChannels * (format.bitsPerSample / 8);
        int64_t frames = kFramesPerBlock;
        if (frameBytes > 0 && frameBytes * kFramesPerBlock > kMaxBlockBytes) {
            frames = static_cast<int64_t>(kMaxBlockBytes / frameBytes);
            if (frames == 0) frames = 1;
        }
        // The exact size, so that a write past the block is caught.
        const uint64_t capacity = frameBytes * static_cast<uint64_t>(frames);
        std::unique_ptr<uint8_t[]> block(new uint8_t[capacity > 0 ? capacity : 1]);
        uint64_t mediaTime = 0;
        uint64_t delivered = 0;
        // Each successful read consumes at least one byte of the file or ends the data, so
        // more reads than bytes mean the reader would keep a driver looping for ever.
        for (size_t reads = 0;; ++reads) {
            if (reads > fileSize + 2) Fail("the reader never reports the end of the data");
            const int64_t wanted = frames;
            const int32_t result = reader->Read(block.get(), &frames, &mediaTime);
            if (result == kWavReaderEndOfData) break;
            if (result != kWavReaderSuccess) break;
            if (frames < 0 || frames > wanted) Fail("more frames than asked for");
            delivered += static_cast<uint64_t>(frames) * frameBytes;
            if (delivered > fileSize) Fail("more sample bytes than the file holds");
        }
    }
    reader->Close();
}

}  // namespace

int FuzzWavReader(const uint8_t* data, size_t size) {
    const std::string& path = ScratchPath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) Fail("cannot write the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail("short write");
    std::fclose(file);
    ReadToTheEnd(path, size);
    return 0;
}

#ifndef PELLION_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzWavReader(data, size);
}
#endif
