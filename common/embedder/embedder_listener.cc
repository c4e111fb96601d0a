#include "embedder_listener.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "result_codes.h"

namespace {

// One insertion per line, so that lines of the library's thread and of the run's do not
// interleave within a line.
void PrintLine(std::ostream& out, const std::string& line) {
    out << line + "\n";
    out.flush();
}

void PrintTimestamp(std::ostream& out, double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "Data timestamp: %.3f\r", seconds);
    out << text;
    out.flush();
}

// Runs a callback's work; what it throws is recorded as a failure of the output instead of
// leaving the library's thread.
template <typename Work>
void RecordingFailures(AudioSink& sink, Work&& work) noexcept {
    try {
        work();
    } catch (const std::bad_alloc&) {
        sink.RecordFailure(CorvidaUtils::kMemoryError,
                           "Error allocating memory for the embedder's output");
    } catch (...) {
        sink.RecordFailure(CorvidaUtils::kGenericError, sink.WriteFailureContext());
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

void EmbedderListener::OnMessage(const Corvida::EmbedderMessage& message) noexcept {
    if (message.level == 0 && style_.silent) return;
    RecordingFailures(sink_, [&] {
        const bool endProgress = style_.terminal && progressShown_.exchange(false);
        PrintLine(console_, (endProgress ? "\n" : "") + FormatEmbedderMessage(message));
    });
}

void EmbedderListener::EndProgressLine() {
    if (style_.terminal && progressShown_.exchange(false)) PrintLine(console_, "");
}

void EmbedderListener::OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) noexcept {
    const std::unique_ptr<uint64_t, decltype(&std::free)> owned(timestamp, &std::free);
    RecordingFailures(sink_, [&] {
        if (owned && !style_.silent) {
            if (style_.singlePrecisionTimestamps) {
                const int64_t ticks = static_cast<int64_t>(*owned);
                const float seconds = static_cast<float>(static_cast<double>(ticks) / 10000000.0);
                PrintTimestamp(console_, static_cast<double>(seconds));
            } else {
                PrintTimestamp(console_, static_cast<double>(*owned) / 10000000.0);
            }
            progressShown_.store(true);
        }
    });
    sink_.Write(data, size);
}
