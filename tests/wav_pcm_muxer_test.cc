#include "wav_pcm_muxer_impl.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "test_files.h"
#include "wav_fixture.h"
#include "wav_pcm_parser_impl.h"

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

TEST(WavPcmMuxerTest, WritesPlainHeaderUpTo16Bits) {
    TempFile file;
    CWAVPCMMuxer muxer;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
    EXPECT_EQ(file.Read(), PlainStereoHeader(0));

    // Within the first second of audio the header on disk claims no data yet (the block is
    // large enough to reach the file).
    const ByteVector samples = Pattern(4 * 30000);
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Write(samples.data(), 4 * 100), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Write(samples.data() + 400, 4 * 29900), kWavMuxerSuccess);
    EXPECT_EQ(Slice(file.Read(), 0, 44), PlainStereoHeader(0));
    ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
    ByteVector expected = PlainStereoHeader(120000);
    PutBytes(expected, samples);
    EXPECT_EQ(file.Read(), expected);
}

TEST(WavPcmMuxerTest, WritesExtensibleHeaderAbove16Bits) {
    TempFile file;
    CWAVPCMMuxer muxer;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 24), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
    EXPECT_EQ(file.Read(), kExtensibleStereoHeader);

    struct Case {
        int16_t channels;
        int16_t bits;
        uint32_t mask;
    };
    for (const Case& c : {Case{6, 32, 0x3F}, Case{31, 24, 0x7FFFFFFF}, Case{32, 24, 0xFFFFFFFF},
                          Case{40, 32, 0xFFFFFFFF}}) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels");
        ASSERT_EQ(muxer.Open(file.path(), c.channels, 48000, c.bits), kWavMuxerSuccess);
        ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
        const ByteVector header = file.Read();
        ASSERT_EQ(header.size(), 68u);
        const uint32_t blockAlign = c.channels * (c.bits / 8);
        EXPECT_EQ(LoadU32At(header, 28), 48000 * blockAlign);   // byte rate
        EXPECT_EQ(LoadU32At(header, 32) & 0xFFFF, blockAlign);  // block align
        EXPECT_EQ(LoadU32At(header, 40), c.mask);
    }
}

TEST(WavPcmMuxerTest, OddDataSizesGetNoPadByte) {
    for (const int16_t bits : {8, 24}) {
        SCOPED_TRACE(std::to_string(bits) + " bits mono");
        TempFile file;
        CWAVPCMMuxer muxer;
        ASSERT_EQ(muxer.Open(file.path(), 1, 48000, bits), kWavMuxerSuccess);
        const ByteVector samples = Pattern(bits == 8 ? 5 : 9);
        ASSERT_EQ(muxer.Write(samples.data(), static_cast<int32_t>(samples.size())),
                  kWavMuxerSuccess);
        ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
        const ByteVector written = file.Read();
        const size_t headerBytes = bits == 8 ? 44 : 68;
        ASSERT_EQ(written.size(), headerBytes + samples.size());
        EXPECT_EQ(LoadU32At(written, 4), headerBytes + samples.size() - 8);
        EXPECT_EQ(LoadU32At(written, headerBytes - 4), samples.size());
        EXPECT_EQ(Slice(written, headerBytes, samples.size()), samples);
    }
}

TEST(WavPcmMuxerTest, CallsWithoutAnOpenFile) {
    CWAVPCMMuxer muxer;
    const uint8_t sample[4] = {};
    EXPECT_EQ(muxer.Open(nullptr, 2, 48000, 16), kWavMuxerNotOpen);
    EXPECT_EQ(muxer.Write(sample, 4), kWavMuxerNotOpen);
    EXPECT_EQ(muxer.Close(), kWavMuxerSuccess);
    EXPECT_EQ(muxer.Open("/nonexistent/dir/out.wav", 2, 48000, 16), kWavMuxerIoError);
    EXPECT_EQ(muxer.Write(sample, 4), kWavMuxerNotOpen);

    TempFile file;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavMuxerSuccess);
    EXPECT_EQ(muxer.Write(sample, -1), kWavMuxerGenericError);
    EXPECT_EQ(muxer.Write(nullptr, 4), kWavMuxerGenericError);
    EXPECT_EQ(muxer.Write(nullptr, 0), kWavMuxerSuccess);
    // A null path leaves the open file alone: its samples still count.
    ASSERT_EQ(muxer.Write(sample, 4), kWavMuxerSuccess);
    EXPECT_EQ(muxer.Open(nullptr, 2, 48000, 16), kWavMuxerNotOpen);
    ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
    EXPECT_EQ(muxer.Write(sample, 4), kWavMuxerNotOpen);
    EXPECT_EQ(LoadU32At(file.Read(), 40), 4u);
}

TEST(WavPcmMuxerTest, OpeningAgainCompletesThePreviousFile) {
    TempFile first;
    TempFile second;
    CWAVPCMMuxer muxer;
    const ByteVector samples = Pattern(8);
    ASSERT_EQ(muxer.Open(first.path(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Write(samples.data(), 8), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Open(second.path(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
    ByteVector expected = PlainStereoHeader(8);
    PutBytes(expected, samples);
    EXPECT_EQ(first.Read(), expected);
    EXPECT_EQ(second.Read(), PlainStereoHeader(0));
}

TEST(WavPcmMuxerTest, FailedWritesAndClosesAreReported) {
    const ByteVector block = Pattern(1 << 20);
    {
        SCOPED_TRACE("a write that does not fit the device");
        CWAVPCMMuxer muxer;
        ASSERT_EQ(muxer.Open("/dev/full", 2, 48000, 16), kWavMuxerSuccess);
        EXPECT_EQ(muxer.Write(block.data(), static_cast<int32_t>(block.size())), kWavMuxerIoError);
        EXPECT_EQ(muxer.Write(block.data(), 4), kWavMuxerNotOpen);
        EXPECT_EQ(muxer.Close(), kWavMuxerSuccess);
    }
    {
        SCOPED_TRACE("a header that cannot be written at Close");
        CWAVPCMMuxer muxer;
        ASSERT_EQ(muxer.Open("/dev/full", 2, 48000, 16), kWavMuxerSuccess);
        EXPECT_EQ(muxer.Close(), kWavMuxerIoError);
        EXPECT_EQ(muxer.Write(block.data(), 4), kWavMuxerNotOpen);
        EXPECT_EQ(muxer.Close(), kWavMuxerSuccess);
    }
}

struct stat StatOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
}

// A user re-running a command whose set-up fails keeps the output of the earlier run: the
// file keeps its content, its mode and its inode until the first samples arrive.
TEST(WavPcmMuxerTest, ExistingOutputIsLeftAsItWasUntilAudioStarts) {
    WorkDir work;
    const std::string path = work.path("out.wav");
    const ByteVector earlier = Pattern(1000, 9);
    WriteWholeFile(path, earlier);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const struct stat before = StatOf(path);

    CWAVPCMMuxer muxer;
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavMuxerSuccess);
    EXPECT_EQ(ReadWholeFile(path), earlier);
    ASSERT_EQ(muxer.Discard(), kWavMuxerSuccess);
    EXPECT_EQ(ReadWholeFile(path), earlier);
    const struct stat after = StatOf(path);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);

    // Once audio is written the file is replaced in place, as any writer would.
    const ByteVector samples = Pattern(8);
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Write(samples.data(), 8), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Discard(), kWavMuxerSuccess);  // too late to give anything back
    ByteVector expected = PlainStereoHeader(8);
    PutBytes(expected, samples);
    EXPECT_EQ(ReadWholeFile(path), expected);
    EXPECT_EQ(StatOf(path).st_ino, before.st_ino);
    EXPECT_EQ(StatOf(path).st_mode, before.st_mode);
}

TEST(WavPcmMuxerTest, DiscardRemovesOnlyAFileOpenCreated) {
    WorkDir work;
    const std::string path = work.path("new.wav");
    CWAVPCMMuxer muxer;
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavMuxerSuccess);
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    ASSERT_EQ(muxer.Discard(), kWavMuxerSuccess);
    EXPECT_NE(access(path.c_str(), F_OK), 0);

    // A file that took the created one's place meanwhile is someone else's.
    ASSERT_EQ(muxer.Open(path.c_str(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(unlink(path.c_str()), 0);
    WriteWholeFile(path, "not ours");
    ASSERT_EQ(muxer.Discard(), kWavMuxerSuccess);
    EXPECT_EQ(ReadWholeFile(path), ByteVector({'n', 'o', 't', ' ', 'o', 'u', 'r', 's'}));

    // A created file that nothing was written to is still a complete WAV file at Close.
    const std::string closed = work.path("closed.wav");
    ASSERT_EQ(muxer.Open(closed.c_str(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
    EXPECT_EQ(ReadWholeFile(closed), PlainStereoHeader(0));
}

TEST(WavPcmMuxerTest, OutputHeldByAnotherWriterIsInUseAndUntouched) {
    WorkDir work;
    const std::string path = work.path("out.wav");
    const ByteVector samples = Pattern(8);
    CWAVPCMMuxer first;
    ASSERT_EQ(first.Open(path.c_str(), 2, 48000, 16), kWavMuxerSuccess);
    ASSERT_EQ(first.Write(samples.data(), 8), kWavMuxerSuccess);

    CWAVPCMMuxer second;
    EXPECT_EQ(second.Open(path.c_str(), 2, 48000, 24), kWavMuxerInUse);
    EXPECT_EQ(second.Write(samples.data(), 8), kWavMuxerNotOpen);
    EXPECT_EQ(second.Close(), kWavMuxerSuccess);

    ASSERT_EQ(first.Close(), kWavMuxerSuccess);
    ByteVector expected = PlainStereoHeader(8);
    PutBytes(expected, samples);
    EXPECT_EQ(ReadWholeFile(path), expected);
    // Released with the first writer's file.
    EXPECT_EQ(second.Open(path.c_str(), 2, 48000, 16), kWavMuxerSuccess);

    // Devices are no one's: runs in parallel may all write to /dev/null.
    CWAVPCMMuxer third;
    ASSERT_EQ(first.Open("/dev/null", 2, 48000, 16), kWavMuxerSuccess);
    EXPECT_EQ(third.Open("/dev/null", 2, 48000, 16), kWavMuxerSuccess);
}

// A run killed at any moment leaves a file that readers take whole up to the last second.
TEST(WavPcmMuxerTest, SizesOnDiskFollowTheAudioOncePerSecond) {
    TempFile file;
    CWAVPCMMuxer muxer;
    ASSERT_EQ(muxer.Open(file.path(), 2, 48000, 16), kWavMuxerSuccess);
    const uint32_t bytesPerSecond = 192000;
    const ByteVector block = Pattern(2048);
    std::set<uint32_t> sizesSeen;
    uint64_t written = 0;
    while (written < 5 * bytesPerSecond / 2) {
        ASSERT_EQ(muxer.Write(block.data(), 2048), kWavMuxerSuccess);
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
    ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
    EXPECT_EQ(LoadU32At(file.Read(), 40), written);
}

// A full disk: every whole frame that reached the file stays readable behind true sizes.
TEST(WavPcmMuxerTest, FailedWriteKeepsTheWholeFramesThatReachedTheFile) {
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
    CWAVPCMMuxer muxer;
    int32_t result = muxer.Open(file.path(), 2, 48000, 24);
    size_t offset = 0;
    while (result == kWavMuxerSuccess && offset < samples.size()) {
        result = muxer.Write(samples.data() + offset, 6 * 512);
        offset += 6 * 512;
    }
    const int32_t closed = muxer.Close();
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(result, kWavMuxerIoError);
    EXPECT_EQ(closed, kWavMuxerSuccess);
    const ByteVector written = file.Read();
    const size_t kept = 10000 - 10000 % 6;
    ASSERT_EQ(written.size(), 68 + kept);
    EXPECT_EQ(LoadU32At(written, 4), 60 + kept);
    EXPECT_EQ(LoadU32At(written, 64), kept);
    EXPECT_EQ(Slice(written, 68, kept), Slice(samples, 0, kept));
}

TEST(WavPcmMuxerTest, SizesPast4GiBAreMarkedUnknown) {
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
        CWAVPCMMuxer muxer;
        ASSERT_EQ(muxer.Open(file.path(), 1, 48000, c.bits), kWavMuxerSuccess);
        ASSERT_EQ(muxer.Write(samples.data(), 12), kWavMuxerSuccess);
        muxer.SetDataBytesForTesting(c.dataBytes);
        ASSERT_EQ(muxer.Close(), kWavMuxerSuccess);
        const ByteVector written = file.Read();
        const size_t headerBytes = c.bits > 16 ? 68 : 44;
        EXPECT_EQ(LoadU32At(written, 4), c.riffSize);
        EXPECT_EQ(LoadU32At(written, headerBytes - 4), c.dataSize);
        if (c.dataSize != 0xFFFFFFFF) continue;

        // The reader takes such a file to its very end.
        CWavPcmParser parser;
        WavPcmFormat format;
        ASSERT_EQ(parser.Open(file.path(), &format, false), kWavParserSuccess);
        uint8_t buffer[64];
        int64_t frames = 64 / (c.bits / 8);
        uint64_t mediaTime = 0;
        ASSERT_EQ(parser.Read(buffer, &frames, &mediaTime), kWavParserSuccess);
        EXPECT_EQ(frames * (c.bits / 8), 12);
        EXPECT_EQ(ByteVector(buffer, buffer + 12), samples);
        EXPECT_EQ(parser.Read(buffer, &frames, &mediaTime), kWavParserEndOfData);
    }
}

TEST(WavPcmMuxerTest, WrittenFilesReadBackUnchanged) {
    for (const int16_t bits : {8, 16, 24, 32}) {
        for (const int16_t channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " ch");
            TempFile file;
            const int32_t frameBytes = channels * (bits / 8);
            const ByteVector samples = Pattern(static_cast<size_t>(frameBytes) * 1000, 3);
            IWavPcmMuxer* muxer = CreateWavPcmMuxer();
            ASSERT_NE(muxer, nullptr);
            ASSERT_EQ(muxer->Open(file.path(), channels, 44100, bits), kWavMuxerSuccess);
            for (size_t offset = 0; offset < samples.size(); offset += 512 * frameBytes) {
                const size_t length = std::min<size_t>(512 * frameBytes, samples.size() - offset);
                ASSERT_EQ(muxer->Write(samples.data() + offset, static_cast<int32_t>(length)),
                          kWavMuxerSuccess);
            }
            // Destroying an open writer completes its file just as Close does.
            EXPECT_EQ(DestroyWavPcmMuxer(muxer), 0);
            EXPECT_EQ(muxer, nullptr);

            CWavPcmParser parser;
            WavPcmFormat format;
            ASSERT_EQ(parser.Open(file.path(), &format, false), kWavParserSuccess);
            EXPECT_EQ(format.nbChannels, static_cast<uint64_t>(channels));
            EXPECT_EQ(format.samplingRate, 44100u);
            EXPECT_EQ(format.bitsPerSample, static_cast<uint64_t>(bits));
            ByteVector buffer(samples.size() + 64);
            int64_t frames = 2000;
            uint64_t mediaTime = 0;
            ASSERT_EQ(parser.Read(buffer.data(), &frames, &mediaTime), kWavParserSuccess);
            EXPECT_EQ(frames, 1000);
            buffer.resize(samples.size());
            EXPECT_EQ(buffer, samples);
        }
    }
}

TEST(WavPcmMuxerFactoryTest, DestroysOnlyItsOwnWriters) {
    struct OtherMuxer : IWavPcmMuxer {
        int32_t Open(const char*, int16_t, uint32_t, int16_t) override { return 0; }
        int32_t Close() override { return 0; }
        int32_t Write(const uint8_t*, int32_t) override { return 0; }
        int32_t Discard() override { return 0; }
    } other;
    IWavPcmMuxer* muxer = &other;  // on the stack: deleting it would crash
    EXPECT_EQ(DestroyWavPcmMuxer(muxer), 0);
    EXPECT_EQ(muxer, nullptr);
    EXPECT_EQ(DestroyWavPcmMuxer(muxer), 0);
}

}  // namespace
