#include "embedder_listener_sample.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>

#include "sample_conversion.h"

namespace {

std::ostream& Console(std::ostream* console) {
    return console != nullptr ? *console : std::cout;
}

// One insertion per line, so that lines of the library's thread and of the driver's do not
// interleave within a line.
void PrintLine(std::ostream* console, const std::string& line) {
    std::ostream& out = Console(console);
    out << line + "\n";
    out.flush();
}

std::string TimestampText(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "Data timestamp: %.3f\r", seconds);
    return text;
}

void PrintTimestamp(std::ostream* console, double seconds) {
    std::ostream& out = Console(console);
    out << TimestampText(seconds);
    out.flush();
}

// A buffer of malloc'ed bytes, released on scope exit.
using PackedBuffer = std::unique_ptr<uint8_t, decltype(&std::free)>;

PackedBuffer AllocatePacked(uint64_t bytes) {
    return PackedBuffer(static_cast<uint8_t*>(std::malloc(bytes > 0 ? bytes : 1)), &std::free);
}

// Runs a callback's work; what it throws is recorded as a failure of the output instead of
// leaving the library's thread.
template <typename Work>
void RecordingFailures(ListenerOutput& output, Work&& work) noexcept {
    try {
        work();
    } catch (const std::bad_alloc&) {
        output.RecordFailure(kWavMuxerOutOfMemory);
    } catch (...) {
        output.RecordFailure(kWavMuxerGenericError);
    }
}

}  // namespace

std::string FormatEmbedderMessage(const Corvida::EmbedderMessage& message) {
    // A null text would put std::ostream into its failed state and silence the rest of the
    // run's console output.
    const std::string text = message.text != nullptr ? message.text : "(null)";
    const std::string code = " (Code: " + std::to_string(message.code) + ")";
    switch (message.level) {
        case 0:
            return "[INFO] - " + text;
        case 1:
            return "[WARNING] - " + text + code;
        case 2:
            return "[ERROR] - " + text + code;
        default:
            return "[UNDEFINED] - " + text + code;
    }
}

// --- PellionEmbedderListenerSample ---

int32_t PellionEmbedderListenerSample::Open(const char* outputFile, int32_t samplingRate,
                                            int32_t nbChannels, int32_t bitsPerSample) {
    bitsPerSample_ = bitsPerSample;
    if (outputIsStdout) {
        output_.PrepareStdout();
        return kWavMuxerSuccess;
    }
    output_.CreateWriter();
    return output_.OpenWriter(outputFile, samplingRate, nbChannels, bitsPerSample);
}

void PellionEmbedderListenerSample::OnMessage(const Corvida::EmbedderMessage& message) noexcept {
    if (message.level == 0 && silent) return;
    RecordingFailures(output_, [&] { PrintLine(console, FormatEmbedderMessage(message)); });
}

void PellionEmbedderListenerSample::OnAudioBuffer(uint8_t* data, uint64_t size,
                                                  uint64_t* timestamp) noexcept {
    // The driver allocated the timestamp for this block; it is freed whatever else happens.
    const std::unique_ptr<uint64_t> owned(timestamp);
    RecordingFailures(output_, [&] {
        if (owned && !silent) PrintTimestamp(console, static_cast<double>(*owned) / 10000000.0);
        if (data == nullptr || size == 0) return;

        uint8_t* bytes = data;
        uint64_t length = size;
        PackedBuffer packed(nullptr, &std::free);
        if (bitsPerSample_ == 24) {
            const uint64_t words = size / 4;
            packed = AllocatePacked(words * 3);
            // Dropping the block silently would lose audio while the run reports success.
            if (!packed) throw std::bad_alloc();
            PackSamples32To24(data, words, packed.get());
            bytes = packed.get();
            length = words * 3;
        }

        if (outputIsStdout) {
            if (stdinEndianness == "be") {
                SwapSampleBytes(bytes, length, static_cast<uint64_t>(bitsPerSample_ / 8));
            }
            output_.WriteStdout(bytes, length);
            return;
        }
        output_.WriteWav(bytes, length);
    });
}

// --- OnlinePellionEmbedderListenerSample ---

OnlinePellionEmbedderListenerSample::OnlinePellionEmbedderListenerSample() {
    output_.CreateWriter();
}

int32_t OnlinePellionEmbedderListenerSample::Open(const char* outputFile, int32_t samplingRate,
                                                  int32_t nbChannels, int32_t bitsPerSample) {
    nbChannels_ = nbChannels;
    bitsPerSample_ = bitsPerSample;
    return output_.OpenWriter(outputFile, samplingRate, nbChannels, bitsPerSample);
}

void OnlinePellionEmbedderListenerSample::OnMessage(
    const Corvida::EmbedderMessage& message) noexcept {
    RecordingFailures(output_, [&] { PrintLine(console, FormatEmbedderMessage(message)); });
}

void OnlinePellionEmbedderListenerSample::OnAudioBuffer(uint8_t* data, uint64_t size,
                                                        uint64_t* timestamp) noexcept {
    // The online driver allocates the timestamp with malloc; it is freed whatever else happens.
    const std::unique_ptr<uint64_t, decltype(&std::free)> owned(timestamp, &std::free);
    RecordingFailures(output_, [&] {
        if (owned) {
            // Read as signed and rounded to single precision before printing.
            const int64_t ticks = static_cast<int64_t>(*owned);
            const float seconds = static_cast<float>(static_cast<double>(ticks) / 10000000.0);
            PrintTimestamp(console, static_cast<double>(seconds));
        }
        if (!output_.HasWriter() || data == nullptr || size == 0) return;

        if (bitsPerSample_ != 24) {
            output_.WriteWav(data, size);
            return;
        }
        if (nbChannels_ <= 0) return;
        // Whole frames only: a trailing partial frame is dropped.
        const uint64_t channels = static_cast<uint64_t>(nbChannels_);
        const uint64_t frames = (size / channels) / 4;
        const uint64_t words = frames * channels;
        PackedBuffer packed = AllocatePacked(words * 3);
        if (!packed) throw std::bad_alloc();
        PackSamples32To24(data, words, packed.get());
        output_.WriteWav(packed.get(), words * 3);
    });
}
