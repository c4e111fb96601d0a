#pragma once

#include <cstdint>

// A sample buffer of the drivers. Plain record; Release frees `data` when `owned`.
struct AudioBuffer {
    uint8_t* data = nullptr;
    uint64_t capacity = 0;  // bytes allocated
    uint64_t size = 0;      // bytes of valid samples
    bool owned = false;     // releasing the record frees `data` with free()

    // Allocates `bytes` with malloc, owned. Returns false and leaves the record empty when
    // memory cannot be had.
    bool Allocate(uint64_t bytes);
    void Release();
};

// Releases the buffer when it goes out of scope.
class ScopedAudioBuffer {
public:
    ScopedAudioBuffer() = default;
    ScopedAudioBuffer(const ScopedAudioBuffer&) = delete;
    ScopedAudioBuffer& operator=(const ScopedAudioBuffer&) = delete;
    ~ScopedAudioBuffer() { buffer.Release(); }
    AudioBuffer buffer;
};
