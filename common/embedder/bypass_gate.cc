#include "bypass_gate.h"

#include <algorithm>
#include <cstring>

BypassGate::BypassGate(AudioSink& sink, uint64_t capacityBytes)
    : sink_(sink), ring_(capacityBytes > 0 ? capacityBytes : 1) {}

void BypassGate::Fed(const uint8_t* data, uint64_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (bypassing_) return;
    for (uint64_t done = 0; done < size;) {
        if (held_ == ring_.size()) {
            // An embedder that holds more than the ring keeps: the oldest is no longer kept.
            const uint64_t dropped = std::min(size - done, held_);
            TakeFront(dropped, nullptr);
            lost_ += dropped;
        }
        const uint64_t end = (start_ + held_) % ring_.size();
        const uint64_t step = std::min({size - done, ring_.size() - held_, ring_.size() - end});
        std::memcpy(ring_.data() + end, data + done, step);
        held_ += step;
        done += step;
    }
}

void BypassGate::Refused(uint64_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    held_ -= std::min(size, held_);
}

CorvidaUtils::Status BypassGate::Returned(uint8_t* data, uint64_t size) noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (bypassing_) return CorvidaUtils::Status();
    TakeFront(size, nullptr);
    return sink_.Write(data, size);
}

CorvidaUtils::Status BypassGate::Bypass(uint64_t& lostBytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    bypassing_ = true;
    lostBytes = lost_;
    lost_ = 0;
    scratch_.resize(held_);
    const uint64_t size = held_;
    TakeFront(size, scratch_.data());
    return sink_.Write(scratch_.data(), size);
}

CorvidaUtils::Status BypassGate::Unmarked(const uint8_t* data, uint64_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    scratch_.assign(data, data + size);
    return sink_.Write(scratch_.data(), size);
}

void BypassGate::Rearmed() {
    const std::lock_guard<std::mutex> lock(mutex_);
    bypassing_ = false;
    start_ = 0;
    held_ = 0;
}

bool BypassGate::bypassing() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return bypassing_;
}

void BypassGate::TakeFront(uint64_t size, uint8_t* into) {
    size = std::min(size, held_);
    for (uint64_t done = 0; done < size;) {
        const uint64_t step = std::min(size - done, ring_.size() - start_);
        if (into != nullptr) std::memcpy(into + done, ring_.data() + start_, step);
        start_ = (start_ + step) % ring_.size();
        done += step;
    }
    held_ -= size;
}
