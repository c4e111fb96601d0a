#include "audio_buffer.h"

#include <cstdlib>

bool AudioBuffer::Allocate(uint64_t bytes) {
    Release();
    // malloc(0) may legally return null; ask for one byte so that an empty block is no failure.
    void* memory = std::malloc(bytes > 0 ? bytes : 1);
    if (memory == nullptr) return false;
    data = static_cast<uint8_t*>(memory);
    capacity = bytes;
    size = bytes;
    owned = true;
    return true;
}

void AudioBuffer::Release() {
    if (data != nullptr && owned) std::free(data);
    data = nullptr;
    capacity = 0;
    size = 0;
    owned = false;
}
