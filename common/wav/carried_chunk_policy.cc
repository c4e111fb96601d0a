#include "carried_chunk_policy.h"

#include <new>

#include "riff.h"
#include "wav_carried_items.h"

namespace {

// Chunks that describe the file itself rather than its content, and so are never carried
// over to an output: the output has its own format, data, length and filler chunks.
bool DescribesTheFile(uint32_t id) {
    return id == FourCc("fmt ") || id == FourCc("data") || id == FourCc("fact") ||
           id == FourCc("JUNK") || id == FourCc("PAD ") || id == FourCc("ds64");
}

std::string ChunkName(uint32_t id) {
    std::string name = "'";
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t c = (id >> shift) & 0xFF;
        name += c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '?';
    }
    return name + "'";
}

std::string LimitText() {
    return "the chunks copied from an input may take " +
           std::to_string(kCarriedChunkBytesLimit >> 20) + " MiB in all";
}

}  // namespace

bool CarriedChunkPolicy::Carries(uint32_t id, uint32_t size) {
    // It certifies the exact audio bytes, which the watermark changes.
    if (id == FourCc("MD5 ")) {
        NoteOnce(md5Noted_,
                 "Note: the input's MD5 chunk is not copied: it certifies the audio as it was "
                 "before the watermark");
        return false;
    }
    if (DescribesTheFile(id)) return false;
    if (carriedBytes_ + 8 + PaddedSize(size) > kCarriedChunkBytesLimit) {
        LeaveOut(id, size);
        return false;
    }
    return true;
}

void CarriedChunkPolicy::Note(std::string text) noexcept {
    try {
        notes_.push_back(std::move(text));
    } catch (const std::bad_alloc&) {
    }
}

void CarriedChunkPolicy::NoteOnce(bool& noted, const char* note) {
    if (noted) return;
    try {
        notes_.push_back(note);
        noted = true;
    } catch (const std::bad_alloc&) {
    }
}

void CarriedChunkPolicy::LeaveOut(uint32_t id, uint32_t size) {
    ++leftOutChunks_;
    leftOutBytes_ += 8 + PaddedSize(size);
    if (leftOutChunks_ > 1) return;
    try {
        notes_.push_back("Note: the input's " + ChunkName(id) + " chunk (" + std::to_string(size) +
                         " bytes) is not copied: " + LimitText());
        leftOutNote_ = notes_.size() - 1;
    } catch (const std::bad_alloc&) {
    }
}

void CarriedChunkPolicy::SumUp() {
    if (leftOutNote_ == kNoNote || leftOutChunks_ < 2) return;
    try {
        notes_[leftOutNote_] = "Note: " + std::to_string(leftOutChunks_) +
                               " of the input's chunks (" + std::to_string(leftOutBytes_) +
                               " bytes, headers included) are not copied: " + LimitText();
    } catch (const std::bad_alloc&) {
        // The note of the first chunk stays: still true, if short of the whole count.
    }
}
