// Which of an input's chunks a WAV output carries on, and the notes about those it does not:
// the chunks that describe the file itself are the output's own; an MD5 chunk certifies the
// audio the watermark changes; past kCarriedChunkBytesLimit in all, chunks are left out, and
// however many they are, one note speaks for them. Notes are returned, not printed, in the
// order the walk met what they are about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CarriedChunkPolicy {
public:
    // Notes are added to `notes`.
    explicit CarriedChunkPolicy(std::vector<std::string>& notes) : notes_(notes) {}

    // Whether a chunk met in the input is carried; notes what is left out.
    bool Carries(uint32_t id, uint32_t size);
    // A carried chunk that was read whole: it counts toward the limit.
    void Carried(uint32_t size) { carriedBytes_ += 8 + PaddedSize(size); }
    // A chunk that memory could not hold.
    void NoMemory() {
        NoteOnce(memoryNoted_, "Note: a chunk of the input is not copied: not enough memory");
    }
    // A note of the walk's own, in its place among the others.
    void Note(std::string text) noexcept;
    // Once the walk is over: the note of the first chunk left out speaks for all of them.
    void SumUp();

    // Chunk bodies of odd size are followed by one pad byte.
    static uint64_t PaddedSize(uint32_t size) { return static_cast<uint64_t>(size) + (size & 1u); }

private:
    void NoteOnce(bool& noted, const char* note);
    void LeaveOut(uint32_t id, uint32_t size);

    std::vector<std::string>& notes_;
    uint64_t carriedBytes_ = 0;
    // An input of millions of chunks must not make as many notes: the chunks the limit leaves
    // out are counted, and the note of the first one is rewritten once to count them all.
    uint64_t leftOutChunks_ = 0;
    uint64_t leftOutBytes_ = 0;
    static constexpr size_t kNoNote = SIZE_MAX;
    size_t leftOutNote_ = kNoNote;
    bool md5Noted_ = false;
    bool memoryNoted_ = false;
};
