#include "embedder_listener.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "code_exception.h"
#include "console_reporter.h"
#include "raw_output_sink.h"
#include "test_files.h"
#include "wav_file_sink.h"

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

uint64_t* MallocTimestamp(int64_t value) {
    auto* timestamp = static_cast<uint64_t*>(std::malloc(sizeof(uint64_t)));
    *timestamp = static_cast<uint64_t>(value);
    return timestamp;
}

}  // namespace

TEST(EmbedderListenerTest, MessageLines) {
    EXPECT_EQ(FormatEmbedderMessage(1, 7, "abc"), "[WARNING] - abc (Code: 7)");
    EXPECT_EQ(FormatEmbedderMessage(2, -3, "bad"), "[ERROR] - bad (Code: -3)");
    EXPECT_EQ(FormatEmbedderMessage(5, 9, "x"), "[UNDEFINED] - x (Code: 9)");
    EXPECT_EQ(FormatEmbedderMessage(-1, 9, "x"), "[UNDEFINED] - x (Code: 9)");
    EXPECT_EQ(FormatEmbedderMessage(0, 9, "hello"), "[INFO] - hello");
    EXPECT_EQ(FormatEmbedderMessage(1, 2, nullptr), "[WARNING] - (null) (Code: 2)");
}

WavPcmFormat Format(uint64_t channels, uint64_t bits) {
    WavPcmFormat format;
    format.nbChannels = channels;
    format.samplingRate = 48000;
    format.bitsPerSample = bits;
    return format;
}

// Keeps what reaches it.
class MemorySink : public AudioSink {
public:
    MemorySink() : AudioSink("Unable to write output file") { format_ = Format(2, 16); }
    void CheckIsNotInput(const InputIdentity&) const override {}
    void Open(const WavPcmFormat&, WavCarriedItems) override {}
    CorvidaUtils::Status Close() override { return CorvidaUtils::Status(); }
    Bytes written;

private:
    CorvidaUtils::Status WriteBytes(uint8_t* bytes, uint64_t size) override {
        written.insert(written.end(), bytes, bytes + size);
        Written(size);
        return CorvidaUtils::Status();
    }
};

// A listener reporting to a console reporter that prints on `console`.
struct ConsoleListener {
    ConsoleListener(AudioSink& sink, std::ostream& console, bool silent, bool singlePrecision)
        : reporter(&console, &console, ConsoleStyle{"test", silent, singlePrecision, false, {}}),
          listener(sink, reporter, failure) {}
    ConsoleReporter reporter;
    CorvidaUtils::FirstFailure failure;
    EmbedderListener listener;
};

TEST(EmbedderListenerTest, SilentModeKeepsWarningsAndErrorsOnly) {
    std::ostringstream console;
    MemorySink sink;
    ConsoleListener silent(sink, console, true, false);
    EmbedderListener& listener = silent.listener;
    listener.OnMessage({0, 0, "info"});
    listener.OnMessage({1, 4, "warn"});
    listener.OnMessage({2, 5, "err"});
    listener.OnMessage({3, 6, "odd"});
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(106666));
    EXPECT_EQ(console.str(),
              "[WARNING] - warn (Code: 4)\n[ERROR] - err (Code: 5)\n[UNDEFINED] - odd (Code: 6)\n");
    // A null text must not silence what follows.
    listener.OnMessage({2, 1, nullptr});
    listener.OnMessage({2, 2, "after"});
    EXPECT_NE(console.str().find("[ERROR] - after (Code: 2)\n"), std::string::npos);
}

TEST(EmbedderListenerTest, TimestampsPrintedAndReleasedEvenWithoutAudio) {
    std::ostringstream console;
    MemorySink sink;
    ConsoleListener plain(sink, console, false, false);
    EmbedderListener& listener = plain.listener;
    listener.OnMessage({0, 0, "info"});
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(106666));
    listener.OnAudioBuffer(nullptr, 16, MallocTimestamp(864000050000LL));
    // Read as unsigned: the top bit set is a huge positive time, not a negative one.
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(INT64_MIN));
    Bytes audio = {1, 2, 3, 4};
    listener.OnAudioBuffer(audio.data(), audio.size(), nullptr);
    EXPECT_EQ(console.str(),
              "[INFO] - info\nData timestamp: 0.011\rData timestamp: 86400.005\r"
              "Data timestamp: 922337203685.478\r");
    EXPECT_EQ(sink.written, audio);
}

TEST(EmbedderListenerTest, SinglePrecisionTimestampsAreSigned) {
    std::ostringstream console;
    MemorySink sink;
    ConsoleListener online(sink, console, false, true);
    EmbedderListener& listener = online.listener;
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(106666));
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(864000050000LL));
    listener.OnAudioBuffer(nullptr, 0, MallocTimestamp(-10000000));
    EXPECT_EQ(console.str(),
              "Data timestamp: 0.011\rData timestamp: 86400.008\rData timestamp: -1.000\r");
}

TEST(AudioSinkTest, WavOutputPacksWhole24BitFramesAndWritesOtherWidthsAsTheyAre) {
    const std::string path24 = TempPath("24.wav");
    {
        WavFileSink sink(path24);
        sink.Open(Format(2, 24), WavCarriedItems());
        // One stereo frame of two words, then a lone word that is not a whole frame.
        Bytes words = {0x00, 0x12, 0x34, 0x56, 0x00, 0x65, 0x43, 0x21, 0x00, 0x77, 0x88, 0x99};
        EXPECT_TRUE(sink.Write(words.data(), words.size()).ok());
        EXPECT_TRUE(sink.Close().ok());
        EXPECT_EQ(sink.FramesWritten(), 1u);
    }
    EXPECT_EQ(WavData(path24, true), (Bytes{0x12, 0x34, 0x56, 0x65, 0x43, 0x21}));

    const std::string path16 = TempPath("16.wav");
    {
        WavFileSink sink(path16);
        sink.Open(Format(2, 16), WavCarriedItems());
        Bytes samples = {0x01, 0x02, 0x03, 0x04};
        sink.Write(samples.data(), samples.size());
        sink.Close();
    }
    EXPECT_EQ(WavData(path16, false), (Bytes{0x01, 0x02, 0x03, 0x04}));
    std::remove(path24.c_str());
    std::remove(path16.c_str());
}

TEST(AudioSinkTest, RawOutputSwapsToBigEndianWhenAsked) {
    struct Case {
        uint64_t bits;
        bool bigEndian;
        Bytes in;
        Bytes out;
    };
    const std::vector<Case> cases = {
        {16, true, {0x01, 0x02, 0x03, 0x04}, {0x02, 0x01, 0x04, 0x03}},
        {16, false, {0x01, 0x02}, {0x01, 0x02}},
        {24, true, {0x00, 0x12, 0x34, 0x56}, {0x56, 0x34, 0x12}},
        {24, false, {0x00, 0x12, 0x34, 0x56}, {0x12, 0x34, 0x56}},
        {32, true, {0x01, 0x02, 0x03, 0x04}, {0x04, 0x03, 0x02, 0x01}},
    };
    for (const Case& c : cases) {
        const std::string path = TempPath("raw.pcm");
        StdoutCapture capture(path);
        RawOutputSink sink(c.bigEndian, [] { return false; });
        sink.Open(Format(1, c.bits), WavCarriedItems());
        Bytes data = c.in;
        EXPECT_TRUE(sink.Write(data.data(), data.size()).ok());
        EXPECT_EQ(capture.Finish(), c.out) << c.bits << " " << c.bigEndian;
        std::remove(path.c_str());
    }
}

TEST(AudioSinkTest, LostOutputIsRememberedWithItsCause) {
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
        RawOutputSink sink(false, [] { return false; });
        sink.Open(Format(1, 16), WavCarriedItems());
        Bytes data = {1, 2, 3, 4};
        const CorvidaUtils::Status lost = sink.Write(data.data(), data.size());
        dup2(saved, STDOUT_FILENO);
        close(saved);
        EXPECT_EQ(lost.code(), 44);
        EXPECT_EQ(lost.cause(), "cannot write standard output: Broken pipe");
        // Nothing more is tried after the first loss.
        EXPECT_TRUE(sink.Write(data.data(), data.size()).ok());
    }
    // A WAV file on a full device: the failure shows at the latest when the file is completed.
    WavFileSink sink("/dev/full");
    sink.Open(Format(2, 16), WavCarriedItems());
    Bytes data(8192, 0x11);
    CorvidaUtils::Status lost = sink.Write(data.data(), data.size());
    if (lost.ok()) lost = sink.Close();
    EXPECT_EQ(lost.code(), 44);
    EXPECT_EQ(lost.context(), "Unable to write output file");
    EXPECT_EQ(lost.cause(), "cannot write '/dev/full': No space left on device");
}

TEST(AudioSinkTest, OpenReportsTheWritersCodeAndCause) {
    WavFileSink sink("/nonexistent-dir/out.wav");
    try {
        sink.Open(Format(2, 16), WavCarriedItems());
        FAIL() << "opened";
    } catch (const CorvidaUtils::CodeException& e) {
        EXPECT_EQ(e.status().code(), 44);
        EXPECT_EQ(e.status().context(), "Unable to initialize embedder listener");
        EXPECT_EQ(e.status().cause(),
                  "cannot open output file '/nonexistent-dir/out.wav': No such file or directory");
    }
}
