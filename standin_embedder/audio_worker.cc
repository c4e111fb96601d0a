#include "audio_worker.h"

#include <utility>

namespace standin {

AudioWorker::AudioWorker(Sink sink) : sink_(std::move(sink)), thread_([this] { Run(); }) {}

AudioWorker::~AudioWorker() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        flushUpTo_ = pushed_;
        stopping_ = true;
    }
    blockReady_.notify_one();
    thread_.join();
}

void AudioWorker::SetLatency(std::size_t blocks) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        latency_ = blocks;
    }
    blockReady_.notify_one();
}

void AudioWorker::Push(const uint8_t* data, std::size_t size, uint64_t* timestamp) {
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait(lock, [this] { return queue_.size() < latency_ + kBacklog; });
    std::vector<uint8_t> buffer;
    if (!spareBuffers_.empty()) {
        buffer = std::move(spareBuffers_.back());
        spareBuffers_.pop_back();
    }
    // The copy needs no lock: the buffer is nobody else's yet.
    lock.unlock();
    buffer.assign(data, data + size);
    lock.lock();
    queue_.push_back({std::move(buffer), timestamp});
    ++pushed_;
    const bool deliverable = HasDeliverableLocked();
    lock.unlock();
    if (deliverable) blockReady_.notify_one();
}

void AudioWorker::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    flushUpTo_ = pushed_;
    const uint64_t target = pushed_;
    blockReady_.notify_one();
    // A sink that finalises from inside a delivery would wait for itself.
    if (std::this_thread::get_id() == thread_.get_id()) return;
    progress_.wait(lock, [this, target] { return delivered_ >= target; });
}

bool AudioWorker::HasDeliverableLocked() const {
    return !queue_.empty() && (queue_.size() > latency_ || taken_ < flushUpTo_);
}

void AudioWorker::TakeDeliverableLocked(std::vector<AudioBlock>& batch) {
    while (HasDeliverableLocked()) {
        batch.push_back(std::move(queue_.front()));
        queue_.pop_front();
        ++taken_;
    }
}

void AudioWorker::Run() {
    // Blocks are taken in batches, so that a fast caller and the thread do not hand the
    // lock back and forth for every block.
    std::vector<AudioBlock> batch;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        blockReady_.wait(lock, [this] { return stopping_ || HasDeliverableLocked(); });
        if (!HasDeliverableLocked()) return;  // stopping, and everything has been delivered
        TakeDeliverableLocked(batch);
        // The queue has room again while the batch goes out.
        progress_.notify_all();
        lock.unlock();
        for (AudioBlock& block : batch) sink_(block);
        lock.lock();
        for (AudioBlock& block : batch) spareBuffers_.push_back(std::move(block.bytes));
        delivered_ += batch.size();
        batch.clear();
        progress_.notify_all();
    }
}

}  // namespace standin
