// Writes raw little-endian PCM (a 440 Hz tone on the first channel, 1 kHz on the others, at
// half scale, 48000 Hz) to standard output as fast as the reader takes it, in large writes,
// so that the source is never what limits a pipeline under measurement.
//
//   bench-pcm-source SECONDS [CHANNELS] [BITS]
//
// One second of signal holds a whole number of periods of both tones, so it is computed
// once and repeated. A reader that goes away ends the run quietly.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint64_t kRate = 48000;
constexpr uint64_t kChunkBytes = 64 * 1024;

int Usage() {
    std::fprintf(stderr, "usage: bench-pcm-source SECONDS [CHANNELS] [BITS]\n");
    return 2;
}

// Writes all of `size` bytes; false when the reader has gone or the write fails.
bool WriteAll(const uint8_t* data, uint64_t size) {
    while (size > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<uint64_t>(written);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) return Usage();
    const double seconds = std::atof(argv[1]);
    const int channels = argc > 2 ? std::atoi(argv[2]) : 2;
    const int bits = argc > 3 ? std::atoi(argv[3]) : 16;
    if (seconds < 0 || channels < 1 || channels > 8 || (bits != 16 && bits != 24 && bits != 32)) {
        return Usage();
    }
    std::signal(SIGPIPE, SIG_IGN);

    const uint64_t bytesPerSample = static_cast<uint64_t>(bits / 8);
    const uint64_t frameBytes = bytesPerSample * static_cast<uint64_t>(channels);
    const double fullScale = std::ldexp(1.0, bits - 1) - 1.0;
    constexpr double kPi = 3.14159265358979323846;

    // One second, then enough of its start again that any chunk can be taken in one piece.
    const uint64_t secondBytes = kRate * frameBytes;
    std::vector<uint8_t> signal(secondBytes + kChunkBytes);
    for (uint64_t i = 0; i < signal.size(); ++i) {
        const uint64_t frame = (i % secondBytes) / frameBytes;
        const uint64_t channel = (i % frameBytes) / bytesPerSample;
        const uint64_t byte = i % bytesPerSample;
        const double frequency = channel == 0 ? 440.0 : 1000.0;
        const auto value = static_cast<int64_t>(
            std::llround(0.5 * fullScale *
                         std::sin(2.0 * kPi * frequency * static_cast<double>(frame) / kRate)));
        signal[i] = static_cast<uint8_t>(value >> (8 * byte));
    }

    uint64_t left = static_cast<uint64_t>(std::llround(seconds * kRate)) * frameBytes;
    uint64_t offset = 0;
    while (left > 0) {
        const uint64_t chunk = left < kChunkBytes ? left : kChunkBytes;
        if (!WriteAll(signal.data() + offset, chunk)) return 0;
        offset = (offset + chunk) % secondBytes;
        left -= chunk;
    }
    return 0;
}
