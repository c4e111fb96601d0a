#include "embedder_listener.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "result_codes.h"

namespace {

// Runs a callback's reporting; what it throws is recorded as a failure of the output instead
// of leaving the library's thread.
template <typename Work>
void RecordingFailures(AudioSink& sink, CorvidaUtils::FirstFailure& failure, Work&& work) noexcept {
    try {
        work();
    } catch (const std::bad_alloc&) {
        failure.Record(MemoryFailure("Error allocating memory for the embedder's output"));
    } catch (...) {
        try {
            failure.Record(
                CorvidaUtils::Status(CorvidaUtils::kGenericError, sink.WriteFailureContext()));
        } catch (...) {
            failure.Record(MemoryFailure(""));
        }
    }
}

}  // namespace

void EmbedderListener::OnMessage(const Corvida::EmbedderMessage& message) noexcept {
    RecordingFailures(sink_, failure_,
                      [&] { reporter_.LibraryMessage(message.level, message.code, message.text); });
}

void EmbedderListener::OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) noexcept {
    const std::unique_ptr<uint64_t, decltype(&std::free)> owned(timestamp, &std::free);
    RecordingFailures(sink_, failure_, [&] {
        reporter_.BlockReturned(owned ? std::optional<uint64_t>(*owned) : std::nullopt);
    });
    failure_.Record(sink_.Write(data, size));
}
