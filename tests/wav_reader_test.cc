#include "wav_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "wav_fixture.h"
#include "wav_layout.h"

namespace {

ByteVector FormatChunk(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t bodySize = 16) {
    return Chunk("fmt ", PlainFormatBody(channels, rate, bits, bodySize));
}

class WavReaderTest : public testing::Test {
protected:
    int32_t OpenBytes(const ByteVector& contents) {
        file_.Write(contents);
        return parser_.Open(file_.path(), &format_);
    }

    // Reads blocks of `frames` frames to the end; returns the bytes delivered for whole
    // frames and the last result.
    int32_t ReadAll(int64_t frames, ByteVector& delivered) {
        const uint64_t frameBytes = format_.nbChannels * (format_.bitsPerSample / 8);
        ByteVector buffer(frames * frameBytes);
        for (;;) {
            int64_t got = frames;
            uint64_t mediaTime = 0;
            const int32_t result = parser_.Read(buffer.data(), &got, &mediaTime);
            if (result != kWavReaderSuccess) return result;
            delivered.insert(delivered.end(), buffer.begin(), buffer.begin() + got * frameBytes);
        }
    }

    TempFile file_;
    WavReader parser_;
    WavPcmFormat format_;
};

TEST_F(WavReaderTest, AcceptsPlainAndExtensiblePcm) {
    const ByteVector samples = Pattern(48);
    struct Case {
        std::string name;
        ByteVector format;
        uint64_t channels, bits;
    };
    const std::vector<Case> cases = {
        {"16-byte plain", FormatChunk(2, 48000, 16, 16), 2, 16},
        {"18-byte plain", FormatChunk(2, 48000, 16, 18), 2, 16},
        {"20-byte plain", FormatChunk(2, 48000, 16, 20), 2, 16},
        {"40-byte plain, as workstations write it", FormatChunk(2, 48000, 24, 40), 2, 24},
        {"odd-sized plain, with its pad byte", FormatChunk(1, 48000, 16, 17), 1, 16},
        {"extensible", Chunk("fmt ", ExtensibleFormatBody(2, 48000, 24)), 2, 24},
        {"8-bit", FormatChunk(1, 48000, 8), 1, 8},
        {"32-bit", FormatChunk(3, 48000, 32), 3, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(OpenBytes(RiffFile({c.format, Chunk("data", samples)})), kWavReaderSuccess);
        EXPECT_EQ(format_.nbChannels, c.channels);
        EXPECT_EQ(format_.samplingRate, 48000u);
        EXPECT_EQ(format_.bitsPerSample, c.bits);
        ByteVector delivered;
        EXPECT_EQ(ReadAll(5, delivered), kWavReaderEndOfData);
        EXPECT_EQ(delivered, samples);  // 8-bit samples, unsigned, come through unchanged too
    }
}

TEST_F(WavReaderTest, RejectsWhatIsNotPcmWav) {
    const ByteVector data = Chunk("data", Pattern(8));
    ByteVector riffx = SimpleWav(2, 48000, 16, Pattern(8));
    riffx[3] = 'X';
    ByteVector wavx = SimpleWav(2, 48000, 16, Pattern(8));
    wavx[11] = 'X';
    ByteVector otherGuid = kPcmSubFormatGuid;
    otherGuid[0] = 0x03;
    struct Case {
        std::string name;
        ByteVector contents;
        int32_t result;
    };
    const std::vector<Case> cases = {
        {"RIFF identifier", riffx, kWavReaderUnsupported},
        {"WAVE form type", wavx, kWavReaderUnsupported},
        {"format tag 3", RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 32, 16, 3)), data}),
         kWavReaderUnsupported},
        {"tag 1 with 14 bytes", RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16, 14)), data}),
         kWavReaderUnsupported},
        {"extensible with 18 bytes",
         RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 24, 18, 0xFFFE)), data}),
         kWavReaderUnsupported},
        {"other sub-format",
         RiffFile({Chunk("fmt ", ExtensibleFormatBody(2, 48000, 24, otherGuid)), data}),
         kWavReaderUnsupported},
        {"12-bit samples", RiffFile({FormatChunk(1, 48000, 12), data}), kWavReaderUnsupported},
        // Formats that no WAV header could describe again: block align past 16 bits, byte
        // rate past 32 bits.
        {"65535 channels of 32 bits", RiffFile({FormatChunk(65535, 48000, 32), data}),
         kWavReaderUnsupported},
        {"32768 channels of 16 bits", RiffFile({FormatChunk(32768, 48000, 16), data}),
         kWavReaderUnsupported},
        {"byte rate past 32 bits", RiffFile({FormatChunk(2, 0xFFFFFFFF, 16), data}),
         kWavReaderUnsupported},
        // A preallocated file that was never written: zeros where chunks should be.
        {"zeros before the format", RiffFile({ByteVector(4096, 0)}), kWavReaderUnsupported},
        {"zeros after the format", RiffFile({FormatChunk(2, 48000, 16), ByteVector(4096, 0)}),
         kWavReaderUnsupported},
        {"empty file", {}, kWavReaderIoError},
        {"cut in the RIFF header", ByteVector(riffx.begin(), riffx.begin() + 11),
         kWavReaderIoError},
        {"no format chunk", RiffFile({data}), kWavReaderIoError},
        {"no data chunk", RiffFile({FormatChunk(2, 48000, 16)}), kWavReaderIoError},
        {"data before format", RiffFile({data, FormatChunk(2, 48000, 16)}), kWavReaderIoError},
        // Kept chunks are read before the walk goes on: it still finds the file too short.
        {"chunk cut off before the format", RiffFile({ChunkDeclaring("bext", 300000, Pattern(10))}),
         kWavReaderIoError},
        {"chunk cut off after the format",
         RiffFile({FormatChunk(2, 48000, 16), ChunkDeclaring("LIST", 300000, Pattern(10))}),
         kWavReaderIoError},
        {"cut in the format chunk", RiffFile({ChunkDeclaring("fmt ", 16, ByteVector(12, 0))}),
         kWavReaderIoError},
        {"cut before the sub-format",
         RiffFile({ChunkDeclaring("fmt ", 40, PlainFormatBody(2, 48000, 24, 24, 0xFFFE))}),
         kWavReaderIoError},
        {"cut in a chunk size after the format",
         [] {
             ByteVector f = RiffFile({FormatChunk(2, 48000, 16)});
             PutId(f, "LIST");
             PutU16(f, 4);
             return f;
         }(),
         kWavReaderIoError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(OpenBytes(c.contents), c.result);
        // A failed Open leaves no file behind.
        uint8_t buffer[16];
        int64_t frames = 1;
        uint64_t mediaTime = 0;
        EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderIoError);
    }
    EXPECT_EQ(parser_.Open("/nonexistent/dir/file.wav", &format_), kWavReaderIoError);
}

// What a refused file is, as far as its bytes tell, and which tool turns it into one the reader
// takes: sox where it reads the file (as checked with sox itself), ffmpeg where only it does.
TEST_F(WavReaderTest, RefusedFilesNameTheToolThatConvertsThem) {
    const auto head = [](const char* bytes) { return ByteVector(bytes, bytes + 12); };
    const ByteVector data = Chunk("data", Pattern(8));
    const auto tagged = [&](uint16_t tag) {
        return RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16, 16, tag)), data});
    };
    const auto bits = [&](uint16_t width) {
        return RiffFile({FormatChunk(2, 48000, width), data});
    };
    const std::vector<std::tuple<ByteVector, std::string, std::string>> cases = {
        {head("ID3\4\0\0\0\0\0\0\0\0"), "is an MP3 file, not a WAV file", "ffmpeg"},
        {head("\xFF\xFB\x94\x64\0\0\0\0\0\0\0\0"), "is an MP3 file, not a WAV file", "ffmpeg"},
        {head("\xFF\xF1\x50\x80\0\0\0\0\0\0\0\0"), "is not a WAV file", ""},  // AAC
        {head("fLaC\0\0\0\x22\0\0\0\0"), "is a FLAC file, not a WAV file", "ffmpeg"},
        {head("OggS\0\2\0\0\0\0\0\0"), "is an Ogg file, not a WAV file", "ffmpeg"},
        {head("\0\0\0 ftypM4A "), "is an M4A file, not a WAV file", "ffmpeg"},
        {head("FORM\0\0\0@AIFF"), "is an AIFF file, not a WAV file", "ffmpeg"},
        {head("riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB"), "is a W64 file", "ffmpeg"},
        {tagged(6), "holds samples of format tag 6, not PCM", "sox -b 24"},
        {tagged(0x55), "holds samples of format tag 85, not PCM", "ffmpeg"},
        {tagged(0x1234), "holds samples of format tag 4660, not PCM", ""},
        {bits(12), "holds 12-bit samples", "ffmpeg"},
        {bits(0), "holds 0-bit samples", ""},
        {bits(32767), "holds 32767-bit samples", ""},
        {RiffFile({FormatChunk(2, 48000, 16, 70000), data}),
         "has a format chunk of 70000 bytes, unlike any PCM format", "sox "},
        {RiffFile({ChunkDeclaring("fmt ", 0xFFFFFFFF, PlainFormatBody(2, 48000, 16)), data}),
         "has a format chunk of 4294967295 bytes, unlike any PCM format", ""},
    };
    for (const auto& [contents, what, tool] : cases) {
        SCOPED_TRACE(what);
        ASSERT_EQ(OpenBytes(contents), kWavReaderUnsupported);
        const UnsupportedInput& why = parser_.WhyUnsupported();
        EXPECT_EQ(why.what, what);
        EXPECT_EQ(why.soxOptions       ? "sox " + *why.soxOptions
                  : why.ffmpegConverts ? "ffmpeg"
                                       : "",
                  tool);
    }
}

TEST_F(WavReaderTest, WidestFormatsAHeaderCanHoldAreAccepted) {
    ASSERT_EQ(OpenBytes(RiffFile({FormatChunk(16383, 48000, 32), Chunk("data", {})})),
              kWavReaderSuccess);
    EXPECT_EQ(format_.nbChannels, 16383u);
    ASSERT_EQ(OpenBytes(RiffFile({FormatChunk(2, 0xFFFFFFFF / 4, 16), Chunk("data", {})})),
              kWavReaderSuccess);
}

TEST_F(WavReaderTest, SkipsOtherChunksWithTheirPadBytes) {
    const ByteVector samples = Pattern(12, 50);
    // An odd chunk and a stray data chunk before an 18-byte format chunk move it off its usual
    // place; an odd chunk after it must be passed with its pad byte.
    ASSERT_EQ(OpenBytes(RiffFile({Chunk("LIST", Pattern(3, 200)), Chunk("data", Pattern(6, 90)),
                                  FormatChunk(2, 44100, 16, 18), Chunk("junk", Pattern(5, 150)),
                                  Chunk("data", samples), Chunk("LIST", Pattern(9, 240))})),
              kWavReaderSuccess);
    EXPECT_EQ(format_.samplingRate, 44100u);
    ByteVector delivered;
    // The chunk behind the data never shows, even when more is asked for than there is.
    EXPECT_EQ(ReadAll(512, delivered), kWavReaderEndOfData);
    EXPECT_EQ(delivered, samples);
}

TEST_F(WavReaderTest, ExtensibleChunkIsLeftAtItsEnd) {
    // After checking the sub-format the reader has to resume behind the whole 40-byte body.
    const ByteVector samples = Pattern(12, 9);
    ASSERT_EQ(OpenBytes(RiffFile({Chunk("fact", Pattern(4)),
                                  Chunk("fmt ", ExtensibleFormatBody(1, 48000, 24)),
                                  Chunk("data", samples)})),
              kWavReaderSuccess);
    ByteVector delivered;
    EXPECT_EQ(ReadAll(3, delivered), kWavReaderEndOfData);
    EXPECT_EQ(delivered, samples);
}

TEST_F(WavReaderTest, DataRegionLimits) {
    const ByteVector fmt = FormatChunk(2, 48000, 16);  // 4-byte frames
    uint8_t buffer[64];
    int64_t frames = 0;
    uint64_t mediaTime = 0;

    // Up to a ds64 size of nearly 2^64, which must not wrap round to before the data.
    for (const ByteVector& contents :
         {RiffFile({fmt, ChunkDeclaring("data", 1000, Pattern(10))}),
          Rf64File({fmt, ChunkDeclaring("data", ~0u, Pattern(10))}, ~uint64_t{15}, 2)}) {
        SCOPED_TRACE("data size larger than the file: whole frames that remain, then end");
        ASSERT_EQ(OpenBytes(contents), kWavReaderSuccess);
        EXPECT_TRUE(parser_.CarriedItems().notes.empty());
        frames = 16;
        ASSERT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
        EXPECT_EQ(frames, 2);
        EXPECT_EQ(ByteVector(buffer, buffer + 10), Pattern(10));
        EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderEndOfData);
    }
    {
        SCOPED_TRACE("data size zero");
        ASSERT_EQ(OpenBytes(RiffFile({fmt, ChunkDeclaring("data", 0, {}), Chunk("LIST", {1, 2})})),
                  kWavReaderSuccess);
        frames = 16;
        EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderEndOfData);
    }
    {
        SCOPED_TRACE("trailing partial frame");
        ASSERT_EQ(OpenBytes(RiffFile({fmt, ChunkDeclaring("data", 10, Pattern(10))})),
                  kWavReaderSuccess);
        frames = 2;
        ASSERT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
        ASSERT_EQ(frames, 2);
        const uint64_t afterTwo = mediaTime;
        buffer[0] = buffer[1] = 0;
        ASSERT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
        EXPECT_EQ(frames, 0);
        EXPECT_EQ(mediaTime, afterTwo);
        EXPECT_EQ(buffer[0], Pattern(10)[8]);
        EXPECT_EQ(buffer[1], Pattern(10)[9]);
        frames = 2;
        EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderEndOfData);
    }
    {
        SCOPED_TRACE("a size field of all ones runs to the end of the file");
        ASSERT_EQ(OpenBytes(RiffFile({fmt, ChunkDeclaring("data", 0xFFFFFFFF, Pattern(20))})),
                  kWavReaderSuccess);
        ByteVector delivered;
        EXPECT_EQ(ReadAll(3, delivered), kWavReaderEndOfData);
        EXPECT_EQ(delivered, Pattern(20));
    }
}

TEST_F(WavReaderTest, FileEndingAfterDataIdentifierWarnsAndHasNoData) {
    ByteVector contents = RiffFile({FormatChunk(2, 48000, 16)});
    PutId(contents, "data");
    PutU16(contents, 7);  // half a size field
    const int32_t result = OpenBytes(contents);
    EXPECT_EQ(parser_.TakeWarnings(),
              std::vector<std::string>{"Warning: error reading WXav chunk"});
    ASSERT_EQ(result, kWavReaderSuccess);
    uint8_t buffer[16];
    int64_t frames = 4;
    uint64_t mediaTime = 0;
    EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderEndOfData);
}

TEST_F(WavReaderTest, MediaTimeTruncatesEachBlockInSinglePrecision) {
    ASSERT_EQ(OpenBytes(SimpleWav(1, 48000, 16, Pattern(512 * 2 * 4))), kWavReaderSuccess);
    ByteVector buffer(512 * 2);
    for (uint64_t k = 1; k <= 4; ++k) {
        int64_t frames = 512;
        uint64_t mediaTime = 0;
        ASSERT_EQ(parser_.Read(buffer.data(), &frames, &mediaTime), kWavReaderSuccess);
        EXPECT_EQ(mediaTime, 106666 * k);
    }
    // At 44100 Hz one block lasts 116099.77 ticks.
    ASSERT_EQ(OpenBytes(SimpleWav(1, 44100, 16, Pattern(512 * 2))), kWavReaderSuccess);
    int64_t frames = 512;
    uint64_t mediaTime = 0;
    ASSERT_EQ(parser_.Read(buffer.data(), &frames, &mediaTime), kWavReaderSuccess);
    EXPECT_EQ(mediaTime, 116099u);
    // 100000 frames last 20833333.3 ticks; single precision rounds the quotient to 20833334.
    ASSERT_EQ(OpenBytes(SimpleWav(1, 48000, 8, Pattern(100000))), kWavReaderSuccess);
    ByteVector large(100000);
    frames = 100000;
    ASSERT_EQ(parser_.Read(large.data(), &frames, &mediaTime), kWavReaderSuccess);
    EXPECT_EQ(mediaTime, 20833334u);
}

TEST_F(WavReaderTest, DegenerateFormatsNeitherDivideByZeroNorLoop) {
    uint8_t buffer[64];
    int64_t frames = 4;
    uint64_t mediaTime = 0;
    // No channels: no frame can be delivered, so the data counts as ended.
    ASSERT_EQ(OpenBytes(SimpleWav(0, 48000, 16, Pattern(16))), kWavReaderSuccess);
    EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderEndOfData);
    EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderEndOfData);
    // A rate of 0: the frames come, the media time stands still.
    ASSERT_EQ(OpenBytes(SimpleWav(1, 0, 16, Pattern(16))), kWavReaderSuccess);
    frames = 4;
    ASSERT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
    EXPECT_EQ(frames, 4);
    EXPECT_EQ(mediaTime, 0u);
}

TEST_F(WavReaderTest, RefusesRequestsOfTwoGigabytesOrMore) {
    ASSERT_EQ(OpenBytes(SimpleWav(2, 48000, 16, Pattern(16))), kWavReaderSuccess);
    uint8_t buffer[16];
    uint64_t mediaTime = 0;
    for (const int64_t bad : {int64_t{-1}, int64_t{1} << 29, std::numeric_limits<int64_t>::max(),
                              std::numeric_limits<int64_t>::min()}) {
        int64_t frames = bad;
        EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderGenericError) << bad;
    }
    // The largest request that fits is taken, and cut down to the data there is.
    int64_t frames = (int64_t{1} << 29) - 1;
    ASSERT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
    EXPECT_EQ(frames, 4);
    // An empty request in the middle of the data delivers nothing and is no failure.
    ASSERT_EQ(OpenBytes(SimpleWav(2, 48000, 16, Pattern(16))), kWavReaderSuccess);
    frames = 0;
    EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
    EXPECT_EQ(frames, 0);
}

TEST_F(WavReaderTest, OpenAndCloseStates) {
    uint8_t buffer[16];
    int64_t frames = 1;
    uint64_t mediaTime = 0;
    EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderIoError);  // never opened

    // A second Open starts afresh: the chunks skipped in the first file do not count.
    ASSERT_EQ(OpenBytes(RiffFile({Chunk("LIST", Pattern(7)), FormatChunk(1, 48000, 8),
                                  Chunk("data", Pattern(4))})),
              kWavReaderSuccess);
    TempFile second(SimpleWav(1, 48000, 8, Pattern(6, 77)));
    ASSERT_EQ(parser_.Open(second.path(), &format_), kWavReaderSuccess);

    // A null path is refused and leaves the open file readable.
    EXPECT_EQ(parser_.Open(nullptr, &format_), kWavReaderNullPath);
    frames = 6;
    ASSERT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
    EXPECT_EQ(frames, 6);
    EXPECT_EQ(ByteVector(buffer, buffer + 6), Pattern(6, 77));

    EXPECT_EQ(parser_.Close(), kWavReaderSuccess);
    EXPECT_EQ(parser_.Read(buffer, &frames, &mediaTime), kWavReaderIoError);
    EXPECT_EQ(parser_.Close(), kWavReaderSuccess);
}

// --- What the reader keeps besides the audio ---

ByteVector Concat(const std::vector<ByteVector>& parts) {
    ByteVector all;
    for (const ByteVector& part : parts) PutBytes(all, part);
    return all;
}

TEST_F(WavReaderTest, KeepsTheChunksAroundTheAudioInTheirOrder) {
    const ByteVector samples = Pattern(4 * 300, 11);
    const ByteVector bext = Chunk("bext", BextBody(1728000000, "A=PCM,F=48000,W=16,M=stereo\r\n"));
    const ByteVector info = ListChunk("INFO", {Chunk("INAM", Pattern(9, 1))});  // odd inside
    const ByteVector ixml = Chunk("iXML", Pattern(101, 2));                     // odd: pad byte
    const ByteVector cue = Chunk("cue ", Pattern(28, 3));
    const ByteVector adtl = ListChunk("adtl", {Chunk("labl", Pattern(8, 4))});
    // The chunks that describe the file itself are its own: the output has its own.
    ASSERT_EQ(OpenBytes(RiffFile({bext, FormatChunk(2, 48000, 16), Chunk("JUNK", Pattern(20)), info,
                                  Chunk("fact", Pattern(4)), Chunk("data", samples), ixml,
                                  Chunk("PAD ", Pattern(6)), cue, adtl, Chunk("data", {1, 2})})),
              kWavReaderSuccess);
    const WavCarriedItems& carried = parser_.CarriedItems();
    EXPECT_EQ(carried.chunksBeforeAudio, Concat({bext, info}));
    EXPECT_EQ(carried.chunksAfterAudio, Concat({ixml, cue, adtl}));
    EXPECT_EQ(carried.channelMask, 0u);
    EXPECT_FALSE(carried.rf64);
    EXPECT_TRUE(carried.notes.empty());
    // The audio is read as before.
    ByteVector delivered;
    EXPECT_EQ(ReadAll(512, delivered), kWavReaderEndOfData);
    EXPECT_EQ(delivered, samples);

    // A second Open starts afresh.
    ASSERT_EQ(OpenBytes(SimpleWav(2, 48000, 16, samples)), kWavReaderSuccess);
    EXPECT_TRUE(parser_.CarriedItems().chunksBeforeAudio.empty());
    EXPECT_TRUE(parser_.CarriedItems().chunksAfterAudio.empty());
}

TEST_F(WavReaderTest, LeavesOutMd5AndWhatPassesTheLimitWithANote) {
    const uint64_t limit = kCarriedChunkBytesLimit;
    const ByteVector first = Chunk("big1", ByteVector(limit / 2, 1));
    const ByteVector second = Chunk("big2", ByteVector(limit / 2, 2));  // 16 bytes too many
    const ByteVector small = Chunk("note", Pattern(8)), md5 = Chunk("MD5 ", Pattern(16));
    ASSERT_EQ(OpenBytes(RiffFile({FormatChunk(2, 48000, 16), first, Chunk("data", Pattern(8)), md5,
                                  second, small, md5})),
              kWavReaderSuccess);
    const WavCarriedItems& carried = parser_.CarriedItems();
    EXPECT_EQ(carried.chunksBeforeAudio, first);
    // A chunk that does not fit is left out; a later one that fits is kept.
    EXPECT_EQ(carried.chunksAfterAudio, small);
    ASSERT_EQ(carried.notes.size(), 2u);
    EXPECT_EQ(carried.notes[0],
              "Note: the input's MD5 chunk is not copied: it certifies the audio as it was "
              "before the watermark");
    EXPECT_EQ(carried.notes[1], "Note: the input's 'big2' chunk (" + std::to_string(limit / 2) +
                                    " bytes) is not copied: the chunks copied from an input "
                                    "may take 8 MiB in all");
}

TEST_F(WavReaderTest, BytesAfterTheAudioThatAreNoChunkAreNotedAndLeft) {
    const ByteVector fmt = FormatChunk(2, 48000, 16);
    const ByteVector samples = Pattern(16, 5);
    const ByteVector cue = Chunk("cue ", Pattern(4));
    struct Case {
        std::string name;
        ByteVector tail;
        ByteVector kept;
        std::string note;  // empty: none
    };
    const std::vector<Case> cases = {
        {"a few stray bytes", Concat({cue, Pattern(5)}), cue,
         "Note: the last 5 bytes of the input are not a chunk and are not copied"},
        {"a chunk running past the end", Concat({cue, ChunkDeclaring("LIST", 100, Pattern(10))}),
         cue, "Note: the last 18 bytes of the input are not a chunk and are not copied"},
        {"no identifier",
         Concat({ByteVector(12, 0), cue}),
         {},
         "Note: the last 24 bytes of the input are not a chunk and are not copied"},
        // The pad byte of the last chunk may be missing.
        {"last pad byte missing", ChunkDeclaring("iXML", 3, {'<', 'a', '>'}),
         Chunk("iXML", {'<', 'a', '>'}), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(OpenBytes(Concat({RiffFile({fmt, Chunk("data", samples)}), c.tail})),
                  kWavReaderSuccess);
        EXPECT_EQ(parser_.CarriedItems().chunksAfterAudio, c.kept);
        EXPECT_EQ(parser_.CarriedItems().notes,
                  c.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.note});
        ByteVector delivered;
        EXPECT_EQ(ReadAll(512, delivered), kWavReaderEndOfData);
        EXPECT_EQ(delivered, samples);
    }
    // Where the audio has no known end, nothing after it can be told apart from it.
    ASSERT_EQ(OpenBytes(RiffFile({fmt, ChunkDeclaring("data", 0xFFFFFFFF, samples), cue})),
              kWavReaderSuccess);
    EXPECT_TRUE(parser_.CarriedItems().chunksAfterAudio.empty());
    EXPECT_TRUE(parser_.CarriedItems().notes.empty());
}

TEST_F(WavReaderTest, TakesTheChannelMaskOfAnExtensibleFormat) {
    ASSERT_EQ(OpenBytes(RiffFile({Chunk("fmt ", ExtensibleFormatBodyWithMask(8, 48000, 24, 0x63F)),
                                  Chunk("data", Pattern(48))})),
              kWavReaderSuccess);
    EXPECT_EQ(parser_.CarriedItems().channelMask, 0x63Fu);
    ASSERT_EQ(OpenBytes(SimpleWav(2, 48000, 16, Pattern(8))), kWavReaderSuccess);
    EXPECT_EQ(parser_.CarriedItems().channelMask, 0u);
}

TEST_F(WavReaderTest, ReadsRf64FilesByTheirDs64Sizes) {
    const ByteVector samples = Pattern(6 * 101, 21);  // 24-bit stereo
    const ByteVector fmt = Chunk("fmt ", ExtensibleFormatBody(2, 48000, 24));
    const ByteVector list = ListChunk("INFO", {Chunk("ICMT", Pattern(5))});
    const ByteVector data = ChunkDeclaring("data", 0xFFFFFFFF, samples);
    ASSERT_EQ(
        OpenBytes(Rf64File({fmt, list, data, Chunk("iXML", Pattern(7))}, samples.size(), 101)),
        kWavReaderSuccess);
    EXPECT_EQ(format_.bitsPerSample, 24u);
    const WavCarriedItems& carried = parser_.CarriedItems();
    EXPECT_TRUE(carried.rf64);
    EXPECT_EQ(carried.chunksBeforeAudio, list);  // without the ds64 chunk
    EXPECT_EQ(carried.chunksAfterAudio, Chunk("iXML", Pattern(7)));
    ByteVector delivered;
    EXPECT_EQ(ReadAll(64, delivered), kWavReaderEndOfData);
    EXPECT_EQ(delivered, samples);

    // Without a ds64 chunk the data runs to the end of the file, as a size of all ones does
    // in a RIFF file; the size from the file wins over the ds64 size.
    ByteVector noDs64 = RiffFile({fmt, data});
    noDs64[1] = 'F';
    noDs64[2] = '6';
    noDs64[3] = '4';
    ASSERT_EQ(OpenBytes(noDs64), kWavReaderSuccess);
    delivered.clear();
    EXPECT_EQ(ReadAll(64, delivered), kWavReaderEndOfData);
    EXPECT_EQ(delivered, samples);
}

// A pipe is read forward only: the audio to its declared size, or to the end; what follows noted.
TEST_F(WavReaderTest, ReadsAPipeForwardOnly) {
    const ByteVector list = ListChunk("INFO", {Chunk("ISFT", Pattern(5))}), samples = Pattern(2800);
    const ByteVector fmt = FormatChunk(2, 48000, 16), toEnd = ChunkDeclaring("data", ~0u, samples);
    const std::vector<std::pair<ByteVector, std::vector<std::string>>> cases = {
        {RiffFile({list, fmt, toEnd}), {}},
        {RiffFile({list, fmt, Chunk("data", samples), Chunk("cue ", Pattern(28))}),
         {"Note: the input's 36 bytes after its audio are not copied: the chunks after the audio "
          "of a stream are not carried"}},
        {Rf64File({list, fmt, toEnd}, 0, 0), {}}};
    for (const auto& [stream, notes] : cases) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        EXPECT_EQ(write(ends[1], stream.data(), stream.size()), ssize_t(stream.size()));
        close(ends[1]);
        ASSERT_EQ(parser_.Open(ends[0], &format_), kWavReaderSuccess);
        close(ends[0]);  // the reader reads its own duplicate
        EXPECT_EQ(parser_.CarriedItems().chunksBeforeAudio, list);
        ByteVector delivered;
        EXPECT_EQ(ReadAll(512, delivered), kWavReaderEndOfData);
        EXPECT_EQ(delivered, samples);
        EXPECT_EQ(parser_.TakeNotes(), notes);
    }
}

}  // namespace
