// What lets a live chain go on when the embedder fails: every block fed to the embedder is
// kept until the embedder gives it back, so that when a call into it fails, the frames it
// took and never gave back can be written unmarked, after those it returned marked and before
// the input that follows; from then on the input goes to the output as it comes, and whatever
// the failed embedder still returns is dropped. Every input frame reaches the output exactly
// once, in order.
//
// The listener (on the library's thread) writes through the gate, and the run switches it
// under the same lock, so that no block of either is written in between.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "audio_sink.h"
#include "status.h"

class BypassGate {
public:
    // Keeps at most `capacityBytes` of audio (in the embedder's form) in flight.
    BypassGate(AudioSink& sink, uint64_t capacityBytes);

    // Before a block goes to the embedder.
    void Fed(const uint8_t* data, uint64_t size);
    // The block last Fed was refused: it never was in the embedder.
    void Refused(uint64_t size);
    // A block the embedder gave back (the listener's thread): written, unless the run has gone
    // on without the embedder, and no longer in flight.
    CorvidaUtils::Status Returned(uint8_t* data, uint64_t size) noexcept;
    // The embedder has failed: what it took and never gave back is written unmarked, and its
    // later returns are dropped. Tells how many bytes in flight had been lost to the bound.
    CorvidaUtils::Status Bypass(uint64_t& lostBytes);
    // A block of the input while the embedder is out, written unmarked.
    CorvidaUtils::Status Unmarked(const uint8_t* data, uint64_t size);
    // A new embedder takes the audio from the next block on.
    void Rearmed();
    bool bypassing() const;

private:
    // Takes `size` bytes off the front of what is in flight (`into` receives them if not null).
    void TakeFront(uint64_t size, uint8_t* into);

    AudioSink& sink_;
    mutable std::mutex mutex_;
    bool bypassing_ = false;
    // In flight: a ring of the bytes fed and not yet given back.
    std::vector<uint8_t> ring_;
    uint64_t start_ = 0;
    uint64_t held_ = 0;
    uint64_t lost_ = 0;             // bytes that did not fit the ring
    std::vector<uint8_t> scratch_;  // a copy for the sink, which rewrites what it is given
};
