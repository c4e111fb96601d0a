#include "listener_output.h"

#include <cstdio>
#include <string>
#include <vector>

bool ListenerOutput::CreateWriter() {
    if (writer_ == nullptr) writer_ = CreateWavPcmMuxer();
    return writer_ != nullptr;
}

int32_t ListenerOutput::OpenWriter(const char* path, int32_t samplingRate, int32_t nbChannels,
                                   int32_t bitsPerSample) {
    if (writer_ == nullptr) return kWavMuxerOutOfMemory;
    const std::vector<std::string> notes = std::move(carried_.notes);
    writer_->SetCarriedItems(std::move(carried_));
    carried_ = WavCarriedItems();
    const int32_t result =
        writer_->Open(path, static_cast<int16_t>(nbChannels), static_cast<uint32_t>(samplingRate),
                      static_cast<int16_t>(bitsPerSample));
    if (result == kWavMuxerSuccess) {
        for (const std::string& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
    }
    return result;
}

void ListenerOutput::Start() {
    if (writer_ == nullptr) return;
    const int32_t result = writer_->Start();
    if (result != kWavMuxerSuccess) RecordFailure(result);
}

void ListenerOutput::Close() {
    if (writer_ == nullptr) return;
    // Closing before destroying keeps the result of completing the file, which the destroy
    // function would drop.
    const int32_t result = writer_->Close();
    if (result != kWavMuxerSuccess) RecordFailure(result);
    DestroyWavPcmMuxer(writer_);
}

void ListenerOutput::Discard() {
    if (writer_ == nullptr) return;
    const int32_t result = writer_->Discard();
    if (result != kWavMuxerSuccess) RecordFailure(result);
    DestroyWavPcmMuxer(writer_);
}

void ListenerOutput::WriteWav(const uint8_t* bytes, uint64_t length) {
    if (writer_ == nullptr) return;
    // The writer takes a 32-bit length; a larger block would be cut short, so it counts as a
    // failed write rather than being truncated silently.
    const int32_t result = length > static_cast<uint64_t>(INT32_MAX)
                               ? kWavMuxerIoError
                               : writer_->Write(bytes, static_cast<int32_t>(length));
    if (result != kWavMuxerSuccess) {
        RecordFailure(result);
        return;
    }
    bytesWritten_.fetch_add(length, std::memory_order_acq_rel);
}

void ListenerOutput::WriteStdout(const uint8_t* bytes, uint64_t length) {
    // A closed pipe fails here too: SIGPIPE is ignored, so the write fails with EPIPE. A stop
    // signal cannot cut the write short: audio flows only once interrupted calls restart.
    if (std::fwrite(bytes, 1, length, stdout) != length) {
        RecordFailure(kWavMuxerIoError);
        return;
    }
    bytesWritten_.fetch_add(length, std::memory_order_acq_rel);
}

void ListenerOutput::RecordFailure(int32_t writerCode) {
    int32_t expected = kWavMuxerSuccess;
    result_.compare_exchange_strong(expected, writerCode, std::memory_order_acq_rel);
}
