// Writes a short test signal: a 440 Hz tone on the first channel and 1 kHz on the others, at
// half scale, as a PCM WAV file or as raw little-endian PCM on standard output ("-").
//
//   make-test-signal OUTPUT [SECONDS] [CHANNELS] [BITS] [RATE]
//   defaults:                1.0       2          16     48000
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "wav_writer.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "make-test-signal: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 6) {
        return Fail("usage: make-test-signal OUTPUT [SECONDS] [CHANNELS] [BITS] [RATE]");
    }
    const std::string output = argv[1];
    const double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;
    const int channels = argc > 3 ? std::atoi(argv[3]) : 2;
    const int bits = argc > 4 ? std::atoi(argv[4]) : 16;
    const int rate = argc > 5 ? std::atoi(argv[5]) : 48000;
    if (seconds < 0 || channels < 1 || channels > 8 || rate < 1 ||
        (bits != 16 && bits != 24 && bits != 32)) {
        return Fail("bad arguments: SECONDS >= 0, CHANNELS 1 to 8, BITS 16, 24 or 32");
    }

    const int bytesPerSample = bits / 8;
    const auto frames = static_cast<uint64_t>(std::llround(seconds * rate));
    constexpr double kPi = 3.14159265358979323846;
    const double fullScale = std::ldexp(1.0, bits - 1) - 1.0;

    std::unique_ptr<WavWriter> writer;
    if (output != "-") {
        writer = std::make_unique<WavWriter>();
        if (writer->Open(output.c_str(), static_cast<int16_t>(channels),
                         static_cast<uint32_t>(rate), static_cast<int16_t>(bits)) != 0) {
            return Fail("cannot create " + output);
        }
    }

    std::vector<uint8_t> block;
    constexpr uint64_t kBlockFrames = 4800;
    int status = 0;
    for (uint64_t first = 0; first < frames && status == 0; first += kBlockFrames) {
        const uint64_t count = std::min(kBlockFrames, frames - first);
        block.assign(count * channels * bytesPerSample, 0);
        uint8_t* out = block.data();
        for (uint64_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(first + i) / rate;
            for (int c = 0; c < channels; ++c) {
                const double frequency = c == 0 ? 440.0 : 1000.0;
                const auto value = static_cast<int64_t>(
                    std::llround(0.5 * fullScale * std::sin(2.0 * kPi * frequency * t)));
                for (int b = 0; b < bytesPerSample; ++b)
                    *out++ = static_cast<uint8_t>(value >> (8 * b));
            }
        }
        if (writer != nullptr) {
            if (writer->Write(block.data(), static_cast<int32_t>(block.size())) != 0) status = 1;
        } else if (std::fwrite(block.data(), 1, block.size(), stdout) != block.size()) {
            status = 1;
        }
    }
    if (writer != nullptr) {
        if (writer->Close() != 0) status = 1;
    }
    if (std::fflush(stdout) != 0) status = 1;
    return status == 0 ? 0 : Fail("cannot write " + output);
}
