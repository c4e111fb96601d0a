// The recording that EnableRecord asks for: a WAV copy of the marked audio, 48000 Hz PCM,
// 24-bit samples packed into three bytes as a WAV file holds them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace standin {

// Whether `directory` exists as a directory this process may create files in.
bool IsWritableDirectory(const char* directory);

class WavRecord {
public:
    static constexpr const char* kFileName = "standin-record.wav";

    // Creates the file in `directory` with a provisional header; null if it cannot be created.
    static std::unique_ptr<WavRecord> Create(const std::string& directory, int32_t channels,
                                             int32_t bitsPerSample);
    // Use Create; a record made directly may hold no file.
    WavRecord(const std::string& path, int32_t channels, int32_t bitsPerSample);
    WavRecord(const WavRecord&) = delete;
    WavRecord& operator=(const WavRecord&) = delete;
    // Completes the file if Finish was not called.
    ~WavRecord();

    // Appends samples as they cross the interface (24-bit as 32-bit words).
    void Write(const uint8_t* data, std::size_t size);
    // Writes the final sizes into the header and closes the file; false if any write failed.
    bool Finish();

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    bool WriteHeader();

    std::unique_ptr<std::FILE, FileCloser> file_;
    int32_t channels_;
    int32_t bitsPerSample_;
    uint64_t dataBytes_ = 0;
    bool failed_ = false;
    std::vector<uint8_t> packed_;  // reused for 24-bit packing
};

}  // namespace standin
