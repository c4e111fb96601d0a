#include "wav_layout.h"

#include <algorithm>

namespace {

uint64_t LoadU64At(const ByteVector& bytes, size_t offset) {
    return static_cast<uint64_t>(LoadU32At(bytes, offset)) |
           static_cast<uint64_t>(LoadU32At(bytes, offset + 4)) << 32;
}

std::string IdAt(const ByteVector& bytes, size_t offset) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + 4));
}

ByteVector Slice(const ByteVector& bytes, size_t from, size_t count) {
    return ByteVector(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                      bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

}  // namespace

std::vector<std::string> WavLayout::Ids() const {
    std::vector<std::string> ids;
    for (const WavChunkView& chunk : chunks) ids.push_back(chunk.id);
    return ids;
}

const WavChunkView* WavLayout::Find(const std::string& id) const {
    const auto found = std::find_if(chunks.begin(), chunks.end(),
                                    [&](const WavChunkView& chunk) { return chunk.id == id; });
    return found != chunks.end() ? &*found : nullptr;
}

WavLayout ParseWavLayout(const ByteVector& file) {
    WavLayout layout;
    if (file.size() < 12 || IdAt(file, 8) != "WAVE" ||
        (IdAt(file, 0) != "RIFF" && IdAt(file, 0) != "RF64")) {
        layout.problem = "no RIFF or RF64 header";
        return layout;
    }
    layout.form = IdAt(file, 0);
    const bool rf64 = layout.form == "RF64";
    layout.riffSizeField = LoadU32At(file, 4);
    layout.riffSize = layout.riffSizeField;
    size_t at = 12;
    while (at < file.size()) {
        if (file.size() - at < 8) {
            layout.problem = "a cut-off chunk header at " + std::to_string(at);
            return layout;
        }
        WavChunkView chunk;
        chunk.id = IdAt(file, at);
        chunk.offset = at;
        chunk.size = LoadU32At(file, at + 4);
        if (rf64 && layout.chunks.empty()) {
            if (chunk.id != "ds64" || chunk.size < 24 || file.size() - at < 8 + 24) {
                layout.problem = "an RF64 file without a ds64 chunk first";
                return layout;
            }
            layout.riffSize = LoadU64At(file, at + 8);
            layout.ds64DataSize = LoadU64At(file, at + 16);
            layout.ds64Frames = LoadU64At(file, at + 24);
        }
        if (rf64 && chunk.id == "data" && chunk.size == 0xFFFFFFFF)
            chunk.size = layout.ds64DataSize;
        uint64_t padded = chunk.size + (chunk.size & 1);
        if (padded == file.size() - at - 8 + 1) {
            layout.lastPadMissing = true;
            padded = chunk.size;
        }
        if (padded > file.size() - at - 8) {
            layout.problem = "chunk '" + chunk.id + "' runs past the end of the file";
            return layout;
        }
        chunk.body = Slice(file, at + 8, chunk.size);
        chunk.whole = Slice(file, at, 8 + padded);
        if (padded != chunk.size && file[at + 8 + chunk.size] != 0) {
            layout.problem = "chunk '" + chunk.id + "' has a pad byte that is not zero";
        }
        at += 8 + padded;
        layout.chunks.push_back(std::move(chunk));
    }
    if (rf64 && layout.riffSizeField != 0xFFFFFFFF) {
        layout.problem = "an RF64 RIFF size field that is not all ones";
    } else if (layout.riffSize != file.size() - 8) {
        layout.problem = "RIFF size " + std::to_string(layout.riffSize) + " for a file of " +
                         std::to_string(file.size()) + " bytes";
    }
    return layout;
}

ByteVector ExtensibleFormatBodyWithMask(uint16_t channels, uint32_t rate, uint16_t bits,
                                        uint32_t mask) {
    ByteVector body = ExtensibleFormatBody(channels, rate, bits);
    for (int i = 0; i < 4; ++i) body[20 + i] = static_cast<uint8_t>(mask >> (8 * i));
    return body;
}

ByteVector BextBody(uint64_t timeReference, const std::string& codingHistory) {
    // Description, originator, its reference, date and time, as fixed-width text.
    auto text = [](const std::string& value, size_t width) {
        ByteVector field(width, 0);
        std::copy_n(value.begin(), std::min(value.size(), width), field.begin());
        return field;
    };
    ByteVector body;
    PutBytes(body, text("Evening news, take 3", 256));
    PutBytes(body, text("Studio B", 32));
    PutBytes(body, text("REF-0042", 32));
    PutBytes(body, text("2026-12-08", 10));
    PutBytes(body, text("20:11:03", 8));
    PutU32(body, static_cast<uint32_t>(timeReference));
    PutU32(body, static_cast<uint32_t>(timeReference >> 32));
    PutU16(body, 2);                                                              // version
    PutBytes(body, Pattern(64, 0x30));                                            // UMID
    for (int i = 0; i < 5; ++i) PutU16(body, static_cast<uint16_t>(0x8000 + i));  // loudness
    PutBytes(body, ByteVector(180, 0));                                           // reserved
    body.insert(body.end(), codingHistory.begin(), codingHistory.end());
    return body;
}

ByteVector ListChunk(const char* type, const std::vector<ByteVector>& chunks) {
    ByteVector body;
    PutId(body, type);
    for (const ByteVector& chunk : chunks) PutBytes(body, chunk);
    return Chunk("LIST", body);
}

ByteVector Rf64File(const std::vector<ByteVector>& chunks, uint64_t dataBytes, uint64_t frames) {
    ByteVector file;
    PutId(file, "RF64");
    PutU32(file, 0xFFFFFFFF);
    PutId(file, "WAVE");
    PutId(file, "ds64");
    PutU32(file, 28);
    const size_t riffSizeAt = file.size();
    for (const uint64_t value : {uint64_t{0}, dataBytes, frames}) {
        PutU32(file, static_cast<uint32_t>(value));
        PutU32(file, static_cast<uint32_t>(value >> 32));
    }
    PutU32(file, 0);  // no table
    for (const ByteVector& chunk : chunks) PutBytes(file, chunk);
    const uint64_t riffSize = file.size() - 8;
    for (int i = 0; i < 8; ++i) file[riffSizeAt + i] = static_cast<uint8_t>(riffSize >> (8 * i));
    return file;
}
