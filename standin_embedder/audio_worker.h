// The embedder's worker thread. It takes copies of the caller's blocks, keeps the most
// recent few back as a real embedder's processing delay would, and hands every block, in
// order, to a sink on its own thread.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace standin {

struct AudioBlock {
    std::vector<uint8_t> bytes;
    uint64_t* timestamp = nullptr;
};

class AudioWorker {
public:
    // Called on the worker thread for each block, in the order the blocks were pushed.
    using Sink = std::function<void(AudioBlock& block)>;

    // Starts the thread at once, so that thread settings can be applied before any audio.
    explicit AudioWorker(Sink sink);
    AudioWorker(const AudioWorker&) = delete;
    AudioWorker& operator=(const AudioWorker&) = delete;
    // Delivers every block still held, then ends the thread.
    ~AudioWorker();

    // The number of most recent blocks held back until more audio arrives or Flush.
    void SetLatency(std::size_t blocks);

    // Copies the block into the queue. Waits while the queue is full, so a caller that
    // feeds faster than the sink takes blocks is slowed down instead of growing the queue.
    void Push(const uint8_t* data, std::size_t size, uint64_t* timestamp);

    // Returns once every block pushed so far has been through the sink.
    void Flush();

    pthread_t NativeHandle() { return thread_.native_handle(); }

private:
    // How many blocks beyond the held-back ones may wait for the thread.
    static constexpr std::size_t kBacklog = 16;

    void Run();
    bool HasDeliverableLocked() const;
    // Moves every block that may go out now from the queue into the batch.
    void TakeDeliverableLocked(std::vector<AudioBlock>& batch);

    Sink sink_;
    std::mutex mutex_;
    std::condition_variable blockReady_;  // the thread has something to deliver, or must end
    std::condition_variable progress_;    // a block was delivered
    std::deque<AudioBlock> queue_;
    std::vector<std::vector<uint8_t>> spareBuffers_;
    std::size_t latency_ = 0;
    uint64_t pushed_ = 0;
    uint64_t taken_ = 0;      // blocks the thread has taken from the queue
    uint64_t delivered_ = 0;  // blocks that have been through the sink
    uint64_t flushUpTo_ = 0;  // blocks up to this count are delivered regardless of latency
    bool stopping_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace standin
