#include "standin_test_support.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <system_error>

void RecordingListener::OnMessage(const Corvida::EmbedderMessage& message) {
    const std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(
        {message.level, message.code,
         message.text != nullptr ? std::optional<std::string>(message.text) : std::nullopt});
}

void RecordingListener::OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) {
    if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
    ReceivedBlock block;
    block.dataWasNull = data == nullptr;
    if (data != nullptr) block.bytes.assign(data, data + size);
    block.timestamp = timestamp;
    block.thread = std::this_thread::get_id();
    pthread_getaffinity_np(pthread_self(), sizeof(block.threadCpus), &block.threadCpus);
    sched_param ignored{};
    pthread_getschedparam(pthread_self(), &block.threadPolicy, &ignored);
    // The bytes are the listener's to rewrite during the call.
    for (uint64_t i = 0; i < size; ++i) data[i] = 0xEE;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        blocks_.push_back(std::move(block));
    }
    arrived_.notify_all();
}

std::vector<ReceivedBlock> RecordingListener::Blocks() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return blocks_;
}

std::vector<ReceivedMessage> RecordingListener::Messages() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<uint8_t> RecordingListener::AllBytes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> all;
    for (const ReceivedBlock& block : blocks_) {
        all.insert(all.end(), block.bytes.begin(), block.bytes.end());
    }
    return all;
}

std::size_t RecordingListener::BlockCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return blocks_.size();
}

bool RecordingListener::WaitForBlocks(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return blocks_.size() >= count; });
}

namespace {

void SetOrUnset(const char* name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
}

}  // namespace

ScopedHooks::ScopedHooks(const std::string& faults, const std::string& trace) {
    SetOrUnset("PELLION_STANDIN_FAULTS", faults);
    SetOrUnset("PELLION_STANDIN_TRACE", trace);
}

ScopedHooks::~ScopedHooks() {
    unsetenv("PELLION_STANDIN_FAULTS");
    unsetenv("PELLION_STANDIN_TRACE");
    // Every Create call reloads the hooks, even one that fails for its missing listener.
    Corvida::CreatePellionAudioEmbedder(nullptr, nullptr, nullptr);
}

Embedder Embedder::Local(Corvida::IEmbedderListener* listener) {
    Embedder made;
    made.result_ = Corvida::CreatePellionAudioEmbedder(listener, &made.embedder_, nullptr);
    return made;
}

Embedder Embedder::Online(Corvida::IEmbedderListener* listener) {
    Embedder made;
    made.online_ = true;
    made.result_ = Corvida::CreateOnlinePellionAudioEmbedder(listener, &made.embedder_, "user",
                                                             "secret", 443, "example.invalid");
    return made;
}

Embedder::Embedder(Embedder&& other) noexcept
    : embedder_(other.embedder_), result_(other.result_), online_(other.online_) {
    other.embedder_ = nullptr;
}

Embedder::~Embedder() {
    Destroy();
}

int32_t Embedder::Destroy() {
    if (embedder_ == nullptr) return 0;
    return Corvida::DestroyPellionAudioEmbedder(embedder_);
}

int32_t Embedder::SetFormat(int32_t bitsPerSample, int32_t channels) {
    Corvida::IEmbedderParameters* parameters = nullptr;
    if (const int32_t result = embedder_->GetEmbedderParameters(&parameters)) return result;
    if (const int32_t result = parameters->SetBitsPerSample(bitsPerSample)) return result;
    return parameters->SetChannels(channels);
}

int32_t Embedder::Start(int32_t bitsPerSample, int32_t channels) {
    if (const int32_t result = SetFormat(bitsPerSample, channels)) return result;
    if (online_) {
        if (const int32_t result = embedder_->AddMetadata(R"({"title":"test"})")) return result;
    }
    return embedder_->Initialize();
}
