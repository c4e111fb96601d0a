#include "wav_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "output_claim.h"
#include "test_files.h"
#include "wav_fixture.h"
#include "wav_header.h"
#include "wav_layout.h"
#include "wav_reader.h"

namespace {

// Header of 16-bit stereo at 48000 Hz holding `dataBytes`.
ByteVector PlainStereoHeader(uint32_t dataBytes) {
    ByteVector header = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W',  'A',  'V',
                         'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,    1,    0,
                         2,   0,   0x80, 0xBB, 0,   0,   0x00, 0xEE, 0x02, 0x00, 4,
                         0,   16,  0,    'd',  'a', 't', 'a',  0,    0,    0,    0};
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<uint8_t>((36 + dataBytes) >> (8 * i));
        header[40 + i] = static_cast<uint8_t>(dataBytes >> (8 * i));
    }
    return header;
}

// Header of 24-bit stereo at 48000 Hz without data.
const ByteVector kExtensibleStereoHeader = {
    'R',  'I',  'F',  'F',  60,   0,    0,    0,    'W',  'A',  'V',  'E',  'f',  'm',
    't',  ' ',  40,   0,    0,    0,    0xFE, 0xFF, 2,    0,    0x80, 0xBB, 0,    0,
    0x00, 0x65, 0x04, 0x00, 6,    0,    24,   0,    22,   0,    24,   0,    3,    0,
    0,    0,    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA,
    0x00, 0x38, 0x9B, 0x71, 'd',  'a',  't',  'a',  0,    0,    0,    0};

ByteVector Slice(const ByteVector& bytes, size_t from, size_t count) {
    return ByteVector(bytes.begin() + from, bytes.begin() + from + count);
}

// Sizes are true from the first byte; a stream's say only that the audio runs to its end, in
// the RIFF form also for an RF64 input.
TEST(WavHeaderTest, EmptyAndStreamSizes) {
    EXPECT_EQ(BuildWavHeader(2, 48000, 24, {}, false), kExtensibleStereoHeader);
    WavCarriedItems rf64;
    rf64.rf64 = true;
    const ByteVector stream = BuildWavHeader(2, 48000, 24, rf64, true);
    ASSERT_EQ(stream.size(), 68u);
    EXPECT_EQ(Slice(stream, 0, 4), ByteVector({'R', 'I', 'F', 'F'}));
    EXPECT_EQ(LoadU32At(stream, 4), 0xFFFFFFFFu);
    EXPECT_EQ(LoadU32At(stream, 64), 0xFFFFFFFFu);
}

TEST(WavWriterTest, WritesPlainHeaderUpTo16Bits) {
    TempFile file;
    WavWriter muxer;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    EXPECT_EQ(file.Read(), PlainStereoHeader(0));

    // Within the first second of audio the header on disk claims no data yet (the block is
    // large enough to reach the file).
    const ByteVector samples = Pattern(4 * 30000);
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(muxer.Write(samples.data(), 4 * 100), kWavWriterSuccess);
    ASSERT_EQ(muxer.Write(samples.data() + 400, 4 * 29900), kWavWriterSuccess);
    EXPECT_EQ(Slice(file.Read(), 0, 44), PlainStereoHeader(0));
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    ByteVector expected = PlainStereoHeader(120000);
    PutBytes(expected, samples);
    EXPECT_EQ(file.Read(), expected);
}

TEST(WavWriterTest, WritesExtensibleHeaderAbove16Bits) {
    TempFile file;
    WavWriter muxer;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 24), kWavWriterSuccess);
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    EXPECT_EQ(file.Read(), kExtensibleStereoHeader);

    struct Case {
        int16_t channels;
        int16_t bits;
        uint32_t mask;
    };
    for (const Case& c : {Case{6, 32, 0x3F}, Case{31, 24, 0x7FFFFFFF}, Case{32, 24, 0xFFFFFFFF},
                          Case{40, 32, 0xFFFFFFFF}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels");
        ASSERT_EQ(muxer.Open(file.path(), c.channels, 48000, c.bits), kWavWriterSuccess);
        ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
        const ByteVector header = file.Read();
        ASSERT_EQ(header.size(), 68u);
        const uint32_t blockAlign = c.channels * (c.bits / 8);
        EXPECT_EQ(LoadU32At(header, 28), 48000 * blockAlign);   // byte rate
        EXPECT_EQ(LoadU32At(header, 32) & 0xFFFF, blockAlign);  // block align
        EXPECT_EQ(LoadU32At(header, 40), c.mask);
    }
}

TEST(WavWriterTest, OddAudioRegionGetsItsPadByte) {
    for (const int16_t bits : {8, 24}) {
        SCOPED_TRACE(std::to_string(bits) + " bits mono");
        TempFile file;
        WavWriter muxer;
        ASSERT_EQ(muxer.Open(file.path(), 1, 48000, bits), kWavWriterSuccess);
        const ByteVector samples = Pattern(bits == 8 ? 5 : 9);
        ASSERT_EQ(muxer.Write(samples.data(), static_cast<int32_t>(samples.size())),
                  kWavWriterSuccess);
        ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
        const ByteVector written = file.Read();
        const size_t headerBytes = bits == 8 ? 44 : 68;
        ASSERT_EQ(written.size(), headerBytes + samples.size() + 1);
        EXPECT_EQ(LoadU32At(written, 4), headerBytes + samples.size() + 1 - 8);
        EXPECT_EQ(LoadU32At(written, headerBytes - 4), samples.size());
        EXPECT_EQ(Slice(written, headerBytes, samples.size()), samples);
        EXPECT_EQ(written.back(), 0);
    }
}

TEST(WavWriterTest, CallsWithoutAnOpenFile) {
    WavWriter muxer;
    const uint8_t sample[4] = {};
    EXPECT_EQ(muxer.Open(nullptr, 2, 48000, 16), kWavWriterNotOpen);
    EXPECT_EQ(muxer.Write(sample, 4), kWavWriterNotOpen);
    EXPECT_EQ(muxer.Close(), kWavWriterSuccess);
    EXPECT_EQ(muxer.Open("/nonexistent/dir/out.wav", 2, 48000, 16), kWavWriterIoError);
    EXPECT_EQ(muxer.Write(sample, 4), kWavWriterNotOpen);

    TempFile file;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavWriterSuccess);
    EXPECT_EQ(muxer.Write(sample, -1), kWavWriterGenericError);
    EXPECT_EQ(muxer.Write(nullptr, 4), kWavWriterGenericError);
    EXPECT_EQ(muxer.Write(nullptr, 0), kWavWriterSuccess);
    // A null path leaves the open file alone: its samples still count.
    ASSERT_EQ(muxer.Write(sample, 4), kWavWriterSuccess);
    EXPECT_EQ(muxer.Open(nullptr, 2, 48000, 16), kWavWriterNotOpen);
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    EXPECT_EQ(muxer.Write(sample, 4), kWavWriterNotOpen);
    EXPECT_EQ(LoadU32At(file.Read(), 40), 4u);
}

TEST(WavWriterTest, OpeningAgainCompletesThePreviousFile) {
    TempFile first;
    TempFile second;
    WavWriter muxer;
    const ByteVector samples = Pattern(8);
    ASSERT_EQ(muxer.Open(first.path(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(muxer.Write(samples.data(), 8), kWavWriterSuccess);
    ASSERT_EQ(muxer.Open(second.path(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    ByteVector expected = PlainStereoHeader(8);
    PutBytes(expected, samples);
    EXPECT_EQ(first.Read(), expected);
    EXPECT_EQ(second.Read(), PlainStereoHeader(0));
}

TEST(WavWriterTest, FailedWritesAndClosesAreReported) {
    const ByteVector block = Pattern(1 << 20);
    {
        SCOPED_TRACE("a write that does not fit the device");
        WavWriter muxer;
        ASSERT_EQ(muxer.Open("/dev/full", 2, 48000, 16), kWavWriterSuccess);
        EXPECT_EQ(muxer.Write(block.data(), static_cast<int32_t>(block.size())), kWavWriterIoError);
        EXPECT_EQ(muxer.Write(block.data(), 4), kWavWriterNotOpen);
        EXPECT_EQ(muxer.Close(), kWavWriterSuccess);
    }
    {
        SCOPED_TRACE("a header that cannot be written at Close");
        WavWriter muxer;
        ASSERT_EQ(muxer.Open("/dev/full", 2, 48000, 16), kWavWriterSuccess);
        EXPECT_EQ(muxer.Close(), kWavWriterIoError);
        EXPECT_EQ(muxer.Write(block.data(), 4), kWavWriterNotOpen);
        EXPECT_EQ(muxer.Close(), kWavWriterSuccess);
    }
}

struct stat StatOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
}

// A user re-running a command whose set-up fails keeps the output of the earlier run: the
// file keeps its content, its mode and its inode until the first samples arrive.
TEST(WavWriterTest, ExistingOutputIsLeftAsItWasUntilAudioStarts) {
    WorkDir work;
    const std::string path = work.path("out.wav");
    const ByteVector earlier = Pattern(1000, 9);
    WriteWholeFile(path, earlier);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const struct stat before = StatOf(path);

    WavWriter muxer;
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavWriterSuccess);
    EXPECT_EQ(ReadWholeFile(path), earlier);
    ASSERT_EQ(muxer.Discard(), kWavWriterSuccess);
    EXPECT_EQ(ReadWholeFile(path), earlier);
    const struct stat after = StatOf(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);

    // Once audio is written the file is replaced in place, as any writer would.
    const ByteVector samples = Pattern(8);
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(muxer.Write(samples.data(), 8), kWavWriterSuccess);
    ASSERT_EQ(muxer.Discard(), kWavWriterSuccess);  // too late to give anything back
    ByteVector expected = PlainStereoHeader(8);
    PutBytes(expected, samples);
    EXPECT_EQ(ReadWholeFile(path), expected);
    EXPECT_EQ(StatOf(path).st_ino, before.st_ino);
    EXPECT_EQ(StatOf(path).st_mode, before.st_mode);
}

TEST(WavWriterTest, DiscardRemovesOnlyAFileOpenCreated) {
    WorkDir work;
    const std::string path = work.path("new.wav");
    WavWriter muxer;
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavWriterSuccess);
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    ASSERT_EQ(muxer.Discard(), kWavWriterSuccess);
    EXPECT_NE(access(path.c_str(), F_OK), 0);

    // A file that took the created one's place meanwhile is someone else's.
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(unlink(path.c_str()), 0);
    WriteWholeFile(path, "not ours");
    ASSERT_EQ(muxer.Discard(), kWavWriterSuccess);
    EXPECT_EQ(ReadWholeFile(path), ByteVector({'n', 'o', 't', ' ', 'o', 'u', 'r', 's'}));

    // A created file that nothing was written to is still a complete WAV file at Close.
    const std::string closed = work.path("closed.wav");
    ASSERT_EQ(muxer.Open(closed.c_str(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    EXPECT_EQ(ReadWholeFile(closed), PlainStereoHeader(0));
}

TEST(WavWriterTest, OutputHeldByAnotherWriterIsInUseAndUntouched) {
    WorkDir work;
    const std::string path = work.path("out.wav");
    const ByteVector samples = Pattern(8);
    WavWriter first;
    ASSERT_EQ(first.Open(path.c_str(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(first.Write(samples.data(), 8), kWavWriterSuccess);

    WavWriter second;
    EXPECT_EQ(second.Open(path.c_str(), 2, 48000, 24), kWavWriterInUse);
    EXPECT_EQ(second.Write(samples.data(), 8), kWavWriterNotOpen);
    EXPECT_EQ(second.Close(), kWavWriterSuccess);

    ASSERT_EQ(first.Close(), kWavWriterSuccess);
    ByteVector expected = PlainStereoHeader(8);
    PutBytes(expected, samples);
    EXPECT_EQ(ReadWholeFile(path), expected);
    // Released with the first writer's file.
    EXPECT_EQ(second.Open(path.c_str(), 2, 48000, 16), kWavWriterSuccess);

    // Devices are no one's: runs in parallel may all write to /dev/null.
    WavWriter third;
    ASSERT_EQ(first.Open("/dev/null", 2, 48000, 16), kWavWriterSuccess);
    EXPECT_EQ(third.Open("/dev/null", 2, 48000, 16), kWavWriterSuccess);
}

// However a new file is made, its name appears only once it holds what was written first, and
// nothing else is left in the directory; a replacement takes an earlier file's name whole,
// with its mode, while the earlier file stays locked.
TEST(OutputClaimTest, NewFilesAndReplacementsTakeTheirNameWhole) {
    const ByteVector header = Pattern(44, 5);
    for (const auto how : {OutputClaim::NewFile::kUnnamed, OutputClaim::NewFile::kTempName,
                           OutputClaim::NewFile::kDirectly}) {
        WorkDir work;
        const std::string path = work.path("out.wav");
        OutputClaim claim;
        ASSERT_EQ(claim.Take(path.c_str(), how), kWavWriterSuccess);
        EXPECT_EQ(access(path.c_str(), F_OK) == 0, how == OutputClaim::NewFile::kDirectly);
        ASSERT_EQ(pwrite(claim.descriptor(), header.data(), header.size(), 0), 44);
        ASSERT_TRUE(claim.GiveName());
        EXPECT_EQ(ReadWholeFile(path), header);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.dir()), {}), 1);
    }
    WorkDir work;
    const std::string path = work.path("out.wav");
    WriteWholeFile(path, "earlier");
    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    OutputClaim claim;
    ASSERT_EQ(claim.Take(path.c_str(), OutputClaim::NewFile::kUnnamed), kWavWriterSuccess);
    const int replacement = claim.MakeReplacement();
    ASSERT_GE(replacement, 0);
    EXPECT_EQ(ReadWholeFile(path), ByteVector({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    ASSERT_EQ(pwrite(replacement, header.data(), header.size(), 0), 44);
    ASSERT_TRUE(claim.SwapIn());
    EXPECT_EQ(ReadWholeFile(path), header);
    EXPECT_EQ(StatOf(path).st_mode & 0777, 0604u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.dir()), {}), 1);
    WavWriter other;
    EXPECT_EQ(other.Open(path.c_str(), 2, 48000, 16), kWavWriterInUse);
}

// A run killed at any moment leaves a file that readers take whole up to the last second.
TEST(WavWriterTest, SizesOnDiskFollowTheAudioOncePerSecond) {
    TempFile file;
    WavWriter muxer;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavWriterSuccess);
    const uint32_t bytesPerSecond = 192000;
    const ByteVector block = Pattern(2048);
    std::set<uint32_t> sizesSeen;
    uint64_t written = 0;
    while (written < 5 * bytesPerSecond / 2) {
        ASSERT_EQ(muxer.Write(block.data(), 2048), kWavWriterSuccess);
        written += 2048;
        const ByteVector onDisk = file.Read();
        ASSERT_GE(onDisk.size(), 44u);
        const uint32_t dataSize = LoadU32At(onDisk, 40);
        EXPECT_EQ(LoadU32At(onDisk, 4), 36 + dataSize);
        EXPECT_LE(dataSize, onDisk.size() - 44);
        EXPECT_LT(written - dataSize, bytesPerSecond + 2048u);
        sizesSeen.insert(dataSize);
    }
    // Rewritten once per second of audio, not per block.
    EXPECT_EQ(sizesSeen, (std::set<uint32_t>{0, 192512, 385024}));
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    EXPECT_EQ(LoadU32At(file.Read(), 40), written);
}

// A full disk: every whole frame that reached the file stays readable behind true sizes.
TEST(WavWriterTest, FailedWriteKeepsTheWholeFramesThatReachedTheFile) {
    TempFile file;
    const rlim_t limit = 68 + 10000;  // not a whole number of 6-byte frames
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    struct rlimit small = saved;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    const ByteVector samples = Pattern(6 * 512 * 8);
    WavWriter muxer;
    int32_t result = muxer.Open(file.path(), 2, 48000, 24);
    size_t offset = 0;
    while (result == kWavWriterSuccess && offset < samples.size()) {
        result = muxer.Write(samples.data() + offset, 6 * 512);
        offset += 6 * 512;
    }
    const int32_t closed = muxer.Close();
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(result, kWavWriterIoError);
    EXPECT_EQ(closed, kWavWriterSuccess);
    const ByteVector written = file.Read();
    const size_t kept = 10000 - 10000 % 6;
    ASSERT_EQ(written.size(), 68 + kept);
    EXPECT_EQ(LoadU32At(written, 4), 60 + kept);
    EXPECT_EQ(LoadU32At(written, 64), kept);
    EXPECT_EQ(Slice(written, 68, kept), Slice(samples, 0, kept));
}

TEST(WavWriterTest, SizesPast4GiBAreMarkedUnknown) {
    TempFile file;
    const ByteVector samples = Pattern(12);
    struct Case {
        int16_t bits;
        uint64_t dataBytes;
        uint32_t riffSize, dataSize;
    };
    // The largest count whose RIFF size still fits, one byte more, and far beyond.
    for (const Case& c : {Case{16, 0xFFFFFFDB, 0xFFFFFFFF, 0xFFFFFFDB},
                          Case{16, 0xFFFFFFDC, 0xFFFFFFFF, 0xFFFFFFFF},
                          Case{24, 0xFFFFFFC3, 0xFFFFFFFF, 0xFFFFFFC3},
                          Case{24, 0xFFFFFFC4, 0xFFFFFFFF, 0xFFFFFFFF},
                          Case{24, uint64_t{5} << 30, 0xFFFFFFFF, 0xFFFFFFFF}}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.dataBytes));
        WavWriter muxer;
        ASSERT_EQ(muxer.Open(file.path(), 1, 48000, c.bits), kWavWriterSuccess);
        ASSERT_EQ(muxer.Write(samples.data(), 12), kWavWriterSuccess);
        muxer.SetDataBytesForTesting(c.dataBytes);
        ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
        const ByteVector written = file.Read();
        const size_t headerBytes = c.bits > 16 ? 68 : 44;
        EXPECT_EQ(LoadU32At(written, 4), c.riffSize);
        EXPECT_EQ(LoadU32At(written, headerBytes - 4), c.dataSize);
        if (c.dataSize != 0xFFFFFFFF) continue;

        // The reader takes such a file to its very end.
        WavReader parser;
        WavPcmFormat format;
        ASSERT_EQ(parser.Open(file.path(), &format), kWavReaderSuccess);
        uint8_t buffer[64];
        int64_t frames = 64 / (c.bits / 8);
        uint64_t mediaTime = 0;
        ASSERT_EQ(parser.Read(buffer, &frames, &mediaTime), kWavReaderSuccess);
        EXPECT_EQ(frames * (c.bits / 8), 12);
        EXPECT_EQ(ByteVector(buffer, buffer + 12), samples);
        EXPECT_EQ(parser.Read(buffer, &frames, &mediaTime), kWavReaderEndOfData);
    }
}

TEST(WavWriterTest, WrittenFilesReadBackUnchanged) {
    for (const int16_t bits : {8, 16, 24, 32}) {
        for (const int16_t channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " ch");
            TempFile file;
            const int32_t frameBytes = channels * (bits / 8);
            const ByteVector samples = Pattern(static_cast<size_t>(frameBytes) * 1000, 3);
            auto muxer = std::make_unique<WavWriter>();
            ASSERT_EQ(muxer->Open(file.path(), channels, 44100, bits), kWavWriterSuccess);
            for (size_t offset = 0; offset < samples.size(); offset += 512 * frameBytes) {
                const size_t length = std::min<size_t>(512 * frameBytes, samples.size() - offset);
                ASSERT_EQ(muxer->Write(samples.data() + offset, static_cast<int32_t>(length)),
                          kWavWriterSuccess);
            }
            // Destroying an open writer completes its file just as Close does.
            muxer.reset();

            WavReader parser;
            WavPcmFormat format;
            ASSERT_EQ(parser.Open(file.path(), &format), kWavReaderSuccess);
            EXPECT_EQ(format.nbChannels, static_cast<uint64_t>(channels));
            EXPECT_EQ(format.samplingRate, 44100u);
            EXPECT_EQ(format.bitsPerSample, static_cast<uint64_t>(bits));
            ByteVector buffer(samples.size() + 64);
            int64_t frames = 2000;
            uint64_t mediaTime = 0;
            ASSERT_EQ(parser.Read(buffer.data(), &frames, &mediaTime), kWavReaderSuccess);
            EXPECT_EQ(frames, 1000);
            buffer.resize(samples.size());
            EXPECT_EQ(buffer, samples);
        }
    }
}

// --- Carrying what the input holds besides its audio ---

ByteVector Concat(const std::vector<ByteVector>& parts) {
    ByteVector all;
    for (const ByteVector& part : parts) PutBytes(all, part);
    return all;
}

WavCarriedItems Carrying(const std::vector<ByteVector>& before,
                         const std::vector<ByteVector>& after, uint32_t mask = 0,
                         bool rf64 = false) {
    WavCarriedItems items;
    items.chunksBeforeAudio = Concat(before);
    items.chunksAfterAudio = Concat(after);
    items.channelMask = mask;
    items.rf64 = rf64;
    return items;
}

// Lowers the largest file this process may write, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previous_);
        struct rlimit small = saved_;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        sigaction(SIGXFSZ, &previous_, nullptr);
    }

private:
    struct rlimit saved_ {};
    struct sigaction previous_ {};
};

const ByteVector kBext = Chunk("bext", BextBody(1728000000, "A=PCM,F=48000,W=16\r\n"));
const ByteVector kInfo = ListChunk("INFO", {Chunk("INAM", Pattern(9, 1))});
const ByteVector kIxml = Chunk("iXML", Pattern(101, 2));  // odd: with its pad byte
const ByteVector kCue = Chunk("cue ", Pattern(28, 3));

TEST(WavWriterTest, CarriedChunksStandAroundTheAudio) {
    TempFile file;
    WavWriter muxer;
    muxer.SetCarriedItems(Carrying({kBext, kInfo}, {kIxml, kCue}));
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavWriterSuccess);
    const size_t headerBytes = 44 + kBext.size() + kInfo.size();
    const ByteVector samples = Pattern(4 * 72000, 5);  // a second and a half
    for (size_t offset = 0; offset < samples.size(); offset += 4 * 512) {
        const size_t length = std::min<size_t>(4 * 512, samples.size() - offset);
        ASSERT_EQ(muxer.Write(samples.data() + offset, static_cast<int32_t>(length)),
                  kWavWriterSuccess);
    }
    // While the audio is written the header already holds the chunks before it, with sizes
    // that cover the file up to the last second; the chunks after it are not there yet.
    const ByteVector running = file.Read();
    ASSERT_GE(running.size(), headerBytes);
    EXPECT_EQ(Slice(running, 36, kBext.size() + kInfo.size()), Concat({kBext, kInfo}));
    const uint32_t runningData = LoadU32At(running, headerBytes - 4);
    EXPECT_EQ(runningData, 4u * 48128);
    EXPECT_EQ(LoadU32At(running, 4), headerBytes + runningData - 8);
    EXPECT_EQ(Slice(running, headerBytes, runningData), Slice(samples, 0, runningData));

    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    const ByteVector written = file.Read();
    const WavLayout layout = ParseWavLayout(written);
    EXPECT_EQ(layout.problem, "");
    EXPECT_EQ(layout.form, "RIFF");
    EXPECT_EQ(layout.Ids(),
              (std::vector<std::string>{"fmt ", "bext", "LIST", "data", "iXML", "cue "}));
    ASSERT_EQ(layout.chunks.size(), 6u);
    EXPECT_EQ(layout.chunks[0].body, PlainFormatBody(2, 48000, 16));
    EXPECT_EQ(Concat({layout.chunks[1].whole, layout.chunks[2].whole}), Concat({kBext, kInfo}));
    EXPECT_EQ(layout.chunks[3].body, samples);
    EXPECT_EQ(Concat({layout.chunks[4].whole, layout.chunks[5].whole}), Concat({kIxml, kCue}));

    // Read back, the file gives the same items and the same audio.
    WavReader parser;
    WavPcmFormat format;
    ASSERT_EQ(parser.Open(file.path(), &format), kWavReaderSuccess);
    EXPECT_EQ(parser.CarriedItems().chunksBeforeAudio, Concat({kBext, kInfo}));
    EXPECT_EQ(parser.CarriedItems().chunksAfterAudio, Concat({kIxml, kCue}));
    ByteVector buffer(samples.size() + 64);
    int64_t frames = 80000;
    uint64_t mediaTime = 0;
    ASSERT_EQ(parser.Read(buffer.data(), &frames, &mediaTime), kWavReaderSuccess);
    EXPECT_EQ(frames, 72000);
}

TEST(WavWriterTest, SpeakersOtherThanTheFirstOnesNeedTheExtensibleForm) {
    struct Case {
        int16_t channels, bits;
        uint32_t inputMask;
        size_t headerBytes;
        uint32_t writtenMask;  // when extensible
    };
    for (const Case& c : {
             Case{6, 16, 0x60F, 68, 0x60F},  // 5.1 with side speakers
             Case{1, 16, 0x4, 68, 0x4},      // a centre speaker alone
             Case{8, 24, 0x63F, 68, 0x63F},  // 7.1
             Case{2, 16, 0x3, 44, 0},        // what a plain header says anyway
             Case{6, 16, 0, 44, 0},          // no speakers named
             Case{2, 24, 0, 68, 0x3},
             Case{6, 32, 0x3F, 68, 0x3F},
         }) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.bits) +
                     " bits, mask " + std::to_string(c.inputMask));
        TempFile file;
        WavWriter muxer;
        muxer.SetCarriedItems(Carrying({}, {}, c.inputMask));
        ASSERT_EQ(muxer.Open(file.path(), c.channels, 48000, c.bits), kWavWriterSuccess);
        ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
        const ByteVector written = file.Read();
        ASSERT_EQ(written.size(), c.headerBytes);
        EXPECT_EQ(ParseWavLayout(written).problem, "");
        if (c.headerBytes == 44) continue;
        const uint16_t blockAlign = static_cast<uint16_t>(c.channels * c.bits / 8);
        ByteVector expectedBody = PlainFormatBody(c.channels, 48000, c.bits, 16, 0xFFFE);
        PutU16(expectedBody, 22);
        PutU16(expectedBody, static_cast<uint16_t>(c.bits));
        PutU32(expectedBody, c.writtenMask);
        PutBytes(expectedBody, kPcmSubFormatGuid);
        EXPECT_EQ(Slice(written, 20, 40), expectedBody);
        EXPECT_EQ(LoadU32At(written, 32) & 0xFFFF, blockAlign);
    }
}

TEST(WavWriterTest, Rf64SizesStandInTheDs64Chunk) {
    TempFile file;
    WavWriter muxer;
    muxer.SetCarriedItems(Carrying({kInfo}, {kCue}, 0, true));
    ASSERT_EQ(muxer.Open(file.path(), 1, 48000, 24), kWavWriterSuccess);
    const ByteVector samples = Pattern(3 * 50001, 7);  // odd: a pad byte follows
    // RF64 header, ds64 chunk, format chunk, the chunks before the audio, data chunk header.
    const size_t headerBytes = 12 + 36 + 48 + kInfo.size() + 8;
    for (size_t offset = 0; offset < samples.size(); offset += 3 * 512) {
        const size_t length = std::min<size_t>(3 * 512, samples.size() - offset);
        ASSERT_EQ(muxer.Write(samples.data() + offset, static_cast<int32_t>(length)),
                  kWavWriterSuccess);
    }
    // Kept true once per second of audio, as in a RIFF file.
    const WavLayout running = ParseWavLayout(Slice(file.Read(), 0, headerBytes + 3 * 48128));
    EXPECT_EQ(running.problem, "");
    EXPECT_EQ(running.ds64DataSize, 3u * 48128);
    EXPECT_EQ(running.ds64Frames, 48128u);

    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    const ByteVector written = file.Read();
    const WavLayout layout = ParseWavLayout(written);
    EXPECT_EQ(layout.problem, "");
    EXPECT_EQ(layout.form, "RF64");
    EXPECT_EQ(layout.Ids(), (std::vector<std::string>{"ds64", "fmt ", "LIST", "data", "cue "}));
    EXPECT_EQ(layout.riffSize, written.size() - 8);
    EXPECT_EQ(layout.ds64DataSize, samples.size());
    EXPECT_EQ(layout.ds64Frames, 50001u);
    EXPECT_EQ(LoadU32At(written, headerBytes - 4), 0xFFFFFFFFu);
    EXPECT_EQ(Slice(written, headerBytes, samples.size()), samples);
    EXPECT_EQ(written[headerBytes + samples.size()], 0);  // the pad byte

    // Past 4 GiB the sizes are the true ones, not all ones.
    ASSERT_EQ(muxer.Open(file.path(), 1, 48000, 24), kWavWriterSuccess);
    ASSERT_EQ(muxer.Write(samples.data(), 6), kWavWriterSuccess);
    const uint64_t dataBytes = (uint64_t{5} << 30) + 3;
    muxer.SetDataBytesForTesting(dataBytes);
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    const ByteVector large = file.Read();
    EXPECT_EQ(LoadU32At(large, 4), 0xFFFFFFFFu);
    EXPECT_EQ(LoadU32At(large, 28) | uint64_t{LoadU32At(large, 32)} << 32, dataBytes);
    EXPECT_EQ(LoadU32At(large, 36) | uint64_t{LoadU32At(large, 40)} << 32, dataBytes / 3);
    EXPECT_EQ(LoadU32At(large, 20) | uint64_t{LoadU32At(large, 24)} << 32,
              headerBytes + dataBytes + 1 + kCue.size() - 8);
}

TEST(WavWriterTest, ChunksAfterTheAudioAreLeftOutPast4GiBOfRiff) {
    TempFile file;
    WavWriter muxer;
    muxer.SetCarriedItems(Carrying({}, {kCue}));
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavWriterSuccess);
    ASSERT_EQ(muxer.Write(Pattern(8).data(), 8), kWavWriterSuccess);
    // Still fits without the chunk after the audio, not with it.
    muxer.SetDataBytesForTesting(0xFFFFFFFF - 39);
    ASSERT_EQ(muxer.Close(), kWavWriterSuccess);
    EXPECT_EQ(muxer.TakeNotes(),
              std::vector<std::string>({"Note: the input's chunks after the audio are not copied: "
                                        "past 4 GiB a RIFF file cannot say where its audio ends"}));
    const ByteVector written = file.Read();
    EXPECT_EQ(written.size(), 44u + 8);
    EXPECT_EQ(LoadU32At(written, 4), 0xFFFFFFFF - 3);
    EXPECT_EQ(LoadU32At(written, 40), 0xFFFFFFFF - 39);
}

// A full disk while the audio or the chunks after it are written: the audio that reached the
// file is kept behind true sizes, in every form of header; the chunks after it are not.
TEST(WavWriterTest, FailedWritesKeepTheAudioInEveryHeaderForm) {
    const ByteVector samples = Pattern(3 * 512 * 8, 9);  // 24-bit mono
    struct Case {
        std::string name;
        bool rf64;
        rlim_t audioRoom;  // bytes of audio the file may take beyond its header
        size_t kept;       // bytes of audio kept
        bool padByte;
    };
    for (const Case& c : {
             Case{"RIFF, cut inside the audio", false, 1000, 999, true},
             Case{"RF64, cut inside the audio", true, 1000, 999, true},
             Case{"RF64, cut right after a frame", true, 999, 999, false},
             Case{"RIFF, cut in the chunks after the audio", false, 3 * 512 + 10, 3 * 512, false},
         }) {
        SCOPED_TRACE(c.name);
        TempFile file;
        WavWriter muxer;
        muxer.SetCarriedItems(Carrying({kInfo}, {kIxml, kCue}, 0, c.rf64));
        const size_t headerBytes = (c.rf64 ? 104 : 68) + kInfo.size();
        int32_t result = kWavWriterSuccess;
        int32_t closed = kWavWriterSuccess;
        const size_t toWrite = c.audioRoom > 3 * 512 ? 3 * 512 : samples.size();
        {
            FileSizeLimit limit(headerBytes + c.audioRoom);
            result = muxer.Open(file.path(), 1, 48000, 24);
            for (size_t offset = 0; result == kWavWriterSuccess && offset < toWrite;
                 offset += 3 * 512) {
                result = muxer.Write(samples.data() + offset, 3 * 512);
            }
            closed = muxer.Close();
        }
        EXPECT_EQ(result == kWavWriterIoError || closed == kWavWriterIoError, true);
        const ByteVector written = file.Read();
        const WavLayout layout = ParseWavLayout(written);
        EXPECT_EQ(layout.problem, "");
        EXPECT_EQ(written.size(), headerBytes + c.kept + (c.padByte ? 1 : 0));
        EXPECT_EQ(layout.lastPadMissing, c.kept % 2 != 0 && !c.padByte);
        const WavChunkView* data = layout.Find("data");
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->body, Slice(samples, 0, c.kept));
        EXPECT_EQ(layout.Find("cue "), nullptr);
        if (c.rf64) {
            EXPECT_EQ(layout.ds64Frames, c.kept / 3);
        }
    }
}

}  // namespace
