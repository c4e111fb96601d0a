// Helpers for the tests that drive the stand-in library in-process: a listener that keeps
// what it receives, scoped hook variables, an owning embedder handle and a scratch folder.
#pragma once

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pellion_audio_embedder.h"
#include "test_files.h"

struct ReceivedBlock {
    std::vector<uint8_t> bytes;
    bool dataWasNull = false;
    uint64_t* timestamp = nullptr;
    std::thread::id thread;
    cpu_set_t threadCpus{};  // affinity of the delivering thread
    int threadPolicy = -1;   // scheduling policy of the delivering thread
};

struct ReceivedMessage {
    int32_t level = 0;
    int32_t code = 0;
    std::optional<std::string> text;  // nullopt for a null text
};

class RecordingListener : public Corvida::IEmbedderListener {
public:
    void OnMessage(const Corvida::EmbedderMessage& message) override;
    void OnAudioBuffer(uint8_t* data, uint64_t size, uint64_t* timestamp) override;

    // Each delivery sleeps this long, as a slow writer would.
    void SetDeliveryDelay(std::chrono::milliseconds delay) { delay_ = delay; }

    std::vector<ReceivedBlock> Blocks() const;
    std::vector<ReceivedMessage> Messages() const;
    std::vector<uint8_t> AllBytes() const;
    std::size_t BlockCount() const;
    // True once `count` blocks have arrived within `timeout`.
    bool WaitForBlocks(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<ReceivedBlock> blocks_;
    std::vector<ReceivedMessage> messages_;
    std::chrono::milliseconds delay_{0};
};

// Sets both hook variables (an empty text unsets one) for the lifetime of the object. The
// library reads them at its next Create call; at the end they are unset and reloaded, so no
// rule outlives the test.
class ScopedHooks {
public:
    explicit ScopedHooks(const std::string& faults, const std::string& trace = "");
    ScopedHooks(const ScopedHooks&) = delete;
    ScopedHooks& operator=(const ScopedHooks&) = delete;
    ~ScopedHooks();
};

// Owns an embedder made by the library's Create functions.
class Embedder {
public:
    // Creates a local (or online, with valid account texts) embedder; result() tells how
    // creating went.
    static Embedder Local(Corvida::IEmbedderListener* listener);
    static Embedder Online(Corvida::IEmbedderListener* listener);

    Embedder(Embedder&& other) noexcept;
    Embedder(const Embedder&) = delete;
    Embedder& operator=(const Embedder&) = delete;
    ~Embedder();

    int32_t result() const { return result_; }
    Corvida::IPellionAudioEmbedder* get() const { return embedder_; }
    Corvida::IPellionAudioEmbedder* operator->() const { return embedder_; }
    int32_t Destroy();

    // GetEmbedderParameters, SetBitsPerSample and SetChannels; the first failing result.
    int32_t SetFormat(int32_t bitsPerSample, int32_t channels);
    // SetFormat, then (online) valid metadata, then Initialize.
    int32_t Start(int32_t bitsPerSample, int32_t channels);

private:
    Embedder() = default;

    Corvida::IPellionAudioEmbedder* embedder_ = nullptr;
    int32_t result_ = -1;
    bool online_ = false;
};
