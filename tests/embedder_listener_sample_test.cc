#include "embedder_listener_sample.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string TempPath(const std::string& name) {
    return testing::TempDir() + "listener_" + std::to_string(getpid()) + "_" + name;
}

// The sample bytes of a WAV file written by the project's writer (44- or 68-byte header).
Bytes WavData(const std::string& path, bool extensible) {
    const Bytes file = ReadWholeFile(path);
    const size_t header = extensible ? 68 : 44;
    return file.size() < header ? Bytes() : Bytes(file.begin() + header, file.end());
}

// Sends standard output to a file while alive, so that raw output can be inspected.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string& path) : path_(path) {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
    ~StdoutCapture() { Restore(); }
    Bytes Finish() {
        Restore();
        return ReadWholeFile(path_);
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

uint64_t* NewTimestamp(uint64_t value) {
    return new uint64_t(value);
}

uint64_t* MallocTimestamp(int64_t value) {
    auto* timestamp = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t)));
    *timestamp = static_cast<uint64_t>(value);
    return timestamp;
}

}  // namespace

TEST(EmbedderListenerSampleTest, MessageLines) {
    using Corvida::EmbedderMessage;
    EXPECT_EQ(FormatEmbedderMessage(EmbedderMessage{1, 7, "abc"}), "[WARNING] - abc (Code: 7)");
    EXPECT_EQ(FormatEmbedderMessage(EmbedderMessage{2, -3, "bad"}), "[ERROR] - bad (Code: -3)");
    EXPECT_EQ(FormatEmbedderMessage(EmbedderMessage{5, 9, "x"}), "[UNDEFINED] - x (Code: 9)");
    EXPECT_EQ(FormatEmbedderMessage(EmbedderMessage{-1, 9, "x"}), "[UNDEFINED] - x (Code: 9)");
    EXPECT_EQ(FormatEmbedderMessage(EmbedderMessage{0, 9, "hello"}), "[INFO] - hello");
    EXPECT_EQ(FormatEmbedderMessage(EmbedderMessage{1, 2, nullptr}),
              "[WARNING] - (null) (Code: 2)");
}

TEST(EmbedderListenerSampleTest, SilentModeKeepsWarningsAndErrorsOnly) {
    std::ostringstream console;
    PellionEmbedderListenerSample listener;
    listener.console = &console;
    listener.silent = true;
    listener.OnMessage({0, 0, "info"});
    listener.OnMessage({1, 4, "warn"});
    listener.OnMessage({2, 5, "err"});
    listener.OnMessage({3, 6, "odd"});
    listener.OnAudioBuffer(nullptr, 0, NewTimestamp(106666));
    EXPECT_EQ(console.str(),
              "[WARNING] - warn (Code: 4)\n[ERROR] - err (Code: 5)\n[UNDEFINED] - odd (Code: 6)\n");
    // A null text must not silence what follows.
    listener.OnMessage({2, 1, nullptr});
    listener.OnMessage({2, 2, "after"});
    EXPECT_NE(console.str().find("[ERROR] - after (Code: 2)\n"), std::string::npos);
}

TEST(EmbedderListenerSampleTest, TimestampsPrintedAndReleasedEvenWithoutAudio) {
    std::ostringstream console;
    PellionEmbedderListenerSample listener;
    listener.console = &console;
    listener.OnMessage({0, 0, "info"});
    listener.OnAudioBuffer(nullptr, 0, NewTimestamp(106666));
    listener.OnAudioBuffer(nullptr, 16, NewTimestamp(864000050000ULL));
    // Read as unsigned: the top bit set is a huge positive time, not a negative one.
    listener.OnAudioBuffer(nullptr, 0, NewTimestamp(0x8000000000000000ULL));
    EXPECT_EQ(console.str(),
              "[INFO] - info\nData timestamp: 0.011\rData timestamp: 86400.005\r"
              "Data timestamp: 922337203685.478\r");
}

TEST(EmbedderListenerSampleTest, OnlineTimestampsAreSignedSinglePrecisionAndAlwaysPrinted) {
    std::ostringstream console;
    OnlinePellionEmbedderListenerSample listener;
    listener.console = &console;
    listener.OnMessage({0, 0, "info"});
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(106666));
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(864000050000LL));
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(-10000000));
    EXPECT_EQ(console.str(),
              "[INFO] - info\nData timestamp: 0.011\rData timestamp: 86400.008\r"
              "Data timestamp: -1.000\r");
}

TEST(EmbedderListenerSampleTest, WavOutputPacks24BitWordsAndWritesOtherWidthsAsTheyAre) {
    const std::string path24 = TempPath("24.wav");
    {
        PellionEmbedderListenerSample listener;
        listener.silent = true;
        ASSERT_EQ(listener.Open(path24.c_str(), 48000, 1, 24), 0);
        Bytes words = {0x00, 0x12, 0x34, 0x56, 0xAA, 0x01, 0x02, 0x03};
        listener.OnAudioBuffer(words.data(), words.size(), nullptr);
        listener.Close();
        EXPECT_EQ(listener.Output().Result(), 0);
    }
    EXPECT_EQ(WavData(path24, true), (Bytes{0x12, 0x34, 0x56, 0x01, 0x02, 0x03}));

    const std::string path16 = TempPath("16.wav");
    {
        PellionEmbedderListenerSample listener;
        listener.silent = true;
        listener.stdinEndianness = "be";  // no effect on WAV output
        ASSERT_EQ(listener.Open(path16.c_str(), 48000, 2, 16), 0);
        Bytes samples = {0x01, 0x02, 0x03, 0x04};
        listener.OnAudioBuffer(samples.data(), samples.size(), nullptr);
    }  // the destructor completes the file
    EXPECT_EQ(WavData(path16, false), (Bytes{0x01, 0x02, 0x03, 0x04}));
    std::remove(path24.c_str());
    std::remove(path16.c_str());
}

TEST(EmbedderListenerSampleTest, OnlineWavOutputPacksWholeFramesOnly) {
    const std::string path = TempPath("online24.wav");
    {
        OnlinePellionEmbedderListenerSample listener;
        std::ostringstream console;
        listener.console = &console;
        ASSERT_EQ(listener.Open(path.c_str(), 48000, 2, 24), 0);
        // One stereo frame of two words, then a lone word that is not a whole frame.
        Bytes words = {0x00, 0x12, 0x34, 0x56, 0x00, 0x65, 0x43, 0x21, 0x00, 0x77, 0x88, 0x99};
        listener.OnAudioBuffer(words.data(), words.size(), nullptr);
        listener.Close();
        EXPECT_EQ(listener.Output().Result(), 0);
    }
    EXPECT_EQ(WavData(path, true), (Bytes{0x12, 0x34, 0x56, 0x65, 0x43, 0x21}));
    std::remove(path.c_str());
}

TEST(EmbedderListenerSampleTest, RawOutputSwapsToBigEndianWhenAsked) {
    struct Case {
        int32_t bits;
        std::string endianness;
        Bytes in;
        Bytes out;
    };
    const std::vector<Case> cases = {
        {16, "be", {0x01, 0x02, 0x03, 0x04}, {0x02, 0x01, 0x04, 0x03}},
        {16, "le", {0x01, 0x02}, {0x01, 0x02}},
        {24, "be", {0x00, 0x12, 0x34, 0x56}, {0x56, 0x34, 0x12}},
        {24, "le", {0x00, 0x12, 0x34, 0x56}, {0x12, 0x34, 0x56}},
        {32, "be", {0x01, 0x02, 0x03, 0x04}, {0x04, 0x03, 0x02, 0x01}},
    };
    for (const Case& c : cases) {
        const std::string path = TempPath("raw.pcm");
        StdoutCapture capture(path);
        PellionEmbedderListenerSample listener;
        std::ostringstream console;
        listener.console = &console;
        listener.outputIsStdout = true;
        listener.stdinEndianness = c.endianness;
        ASSERT_EQ(listener.Open("stdout", 48000, 1, c.bits), 0);
        Bytes data = c.in;
        listener.OnAudioBuffer(data.data(), data.size(), NewTimestamp(0));
        EXPECT_EQ(capture.Finish(), c.out) << c.bits << " " << c.endianness;
        EXPECT_EQ(listener.Output().Result(), 0);
        // Console lines never reach the audio stream.
        EXPECT_EQ(console.str(), "Data timestamp: 0.000\r");
        std::remove(path.c_str());
    }
}

TEST(EmbedderListenerSampleTest, LostOutputIsRemembered) {
    // Raw output into a pipe whose reader has gone.
    {
        signal(SIGPIPE, SIG_IGN);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        std::fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
        PellionEmbedderListenerSample listener;
        listener.outputIsStdout = true;
        ASSERT_EQ(listener.Open("stdout", 48000, 1, 16), 0);
        Bytes data = {1, 2, 3, 4};
        listener.OnAudioBuffer(data.data(), data.size(), nullptr);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        EXPECT_EQ(listener.Output().Result(), kWavMuxerIoError);
    }
    // A WAV file on a full device: the failure shows at the latest when the file is completed.
    for (int online = 0; online < 2; ++online) {
        Bytes data(8192, 0x11);
        int32_t result = 0;
        if (online == 0) {
            PellionEmbedderListenerSample listener;
            ASSERT_EQ(listener.Open("/dev/full", 48000, 2, 16), 0);
            listener.OnAudioBuffer(data.data(), data.size(), nullptr);
            listener.Close();
            result = listener.Output().Result();
        } else {
            OnlinePellionEmbedderListenerSample listener;
            std::ostringstream console;
            listener.console = &console;
            ASSERT_EQ(listener.Open("/dev/full", 48000, 2, 16), 0);
            listener.OnAudioBuffer(data.data(), data.size(), nullptr);
            listener.Close();
            result = listener.Output().Result();
        }
        EXPECT_EQ(result, kWavMuxerIoError) << "online " << online;
    }
}

TEST(EmbedderListenerSampleTest, OpenReportsTheWritersCode) {
    PellionEmbedderListenerSample listener;
    EXPECT_EQ(listener.Open("/nonexistent-dir/out.wav", 48000, 2, 16), 3);
    OnlinePellionEmbedderListenerSample online;
    EXPECT_EQ(online.Open(nullptr, 48000, 2, 16), 1);
}
