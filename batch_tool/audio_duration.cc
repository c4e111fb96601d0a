#include "audio_duration.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "riff.h"
#include "stdio_file.h"

namespace {

// Chunks walked before giving up on a file that may be damaged.
constexpr int kMostChunks = 4096;

}  // namespace

std::optional<double> AudioSecondsOf(const std::string& path) {
    StdioFile file(std::fopen(path.c_str(), "rb"));
    struct stat status {};
    uint8_t header[12];
    if (!file || fstat(fileno(file.get()), &status) != 0 ||
        std::fread(header, 1, sizeof header, file.get()) != sizeof header ||
        (LoadU32(header) != FourCc("RIFF") && LoadU32(header) != FourCc("RF64")) ||
        LoadU32(header + 8) != FourCc("WAVE")) {
        return std::nullopt;
    }
    uint64_t byteRate = 0, ds64DataSize = 0;
    for (int chunk = 0; chunk < kMostChunks; ++chunk) {
        uint8_t body[28];
        const long start = std::ftell(file.get());
        if (std::fread(body, 1, 8, file.get()) != 8) return std::nullopt;
        const uint32_t id = LoadU32(body), size = LoadU32(body + 4);
        if (id == FourCc("data")) {
            const uint64_t claimed = size == kUnknownSize && ds64DataSize ? ds64DataSize : size;
            const uint64_t present =
                static_cast<uint64_t>(status.st_size) - static_cast<uint64_t>(start) - 8;
            if (byteRate == 0) return std::nullopt;
            return static_cast<double>(claimed < present ? claimed : present) /
                   static_cast<double>(byteRate);
        }
        if ((id == FourCc("fmt ") && size >= 16) || (id == FourCc("ds64") && size >= 28)) {
            if (std::fread(body, 1, id == FourCc("fmt ") ? 16 : 28, file.get()) == 0) {
                return std::nullopt;
            }
            if (id == FourCc("fmt ")) byteRate = LoadU32(body + 8);
            if (id == FourCc("ds64")) ds64DataSize = LoadU64(body + 8);
        }
        if (std::fseek(file.get(), start + 8 + static_cast<long>(size + (size & 1)), SEEK_SET) !=
            0) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}
