// pellion-embed never destroys its input, never reports lost output as a success, and ends in
// order when it is stopped or its input fails: the embedder is finalised and the WAV file is
// complete with everything handed over so far.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_embedder_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

constexpr size_t kBlockFrames = 512;

// A FIFO for the program's standard output, with its reading end held by the test.
class OutputFifo {
public:
    explicit OutputFifo(const WorkDir& dir) : path_(dir.path("audio.fifo")) {
        if (mkfifo(path_.c_str(), 0600) == 0) {
            // Opened first, and without blocking, so that the program's open does not wait.
            reader_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        }
    }
    OutputFifo(const OutputFifo&) = delete;
    OutputFifo& operator=(const OutputFifo&) = delete;
    ~OutputFifo() { CloseReader(); }

    bool valid() const { return reader_ >= 0; }
    int reader() const { return reader_; }
    const std::string& path() const { return path_; }
    // Reads what is there, without waiting. True when every writer has gone: only meaningful
    // once the program has opened its end.
    bool Drain() {
        char buffer[65536];
        ssize_t n = 0;
        while (reader_ >= 0 && (n = read(reader_, buffer, sizeof buffer)) > 0) {
            received_.append(buffer, static_cast<size_t>(n));
        }
        return n == 0;
    }
    // Less than PIPE_BUF of room: the program's poll for room to write waits.
    bool Full() const {
        int held = 0;
        return ioctl(reader_, FIONREAD, &held) == 0 &&
               held + PIPE_BUF > fcntl(reader_, F_GETPIPE_SZ);
    }
    const std::string& received() const { return received_; }
    void CloseReader() {
        if (reader_ >= 0) close(reader_);
        reader_ = -1;
    }

private:
    std::string path_;
    int reader_ = -1;
    std::string received_;
};

// The threads of `pid` other than its main thread: those the library started.
std::vector<pid_t> OtherThreads(pid_t pid) {
    std::vector<pid_t> threads;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& entry : std::filesystem::directory_iterator(tasks)) {
        const pid_t tid = static_cast<pid_t>(std::stol(entry.path().filename().string()));
        if (tid != pid) threads.push_back(tid);
    }
    return threads;
}

TEST(E2eEmbedderSafetyTest, OutputNamingTheInputEndsTheRunAndLeavesTheInputAlone) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    const ByteVector original = SimpleWav(2, 48000, 16, TestSamples(2 * kBlockFrames, 2, 16));
    WriteWholeFile(input, original);
    ASSERT_EQ(symlink(input.c_str(), dir.path("symlink.wav").c_str()), 0);
    ASSERT_EQ(link(input.c_str(), dir.path("hardlink.wav").c_str()), 0);
    for (const std::string& output :
         {input, dir.dir() + "/./in.wav", dir.path("symlink.wav"), dir.path("hardlink.wav")}) {
        for (const std::string& name : {input, std::string("-")}) {  // "-": standard input
            SCOPED_TRACE(name + " to " + output);
            ProcessOptions options = EmbedderOptions(dir, {name, output});
            options.stdinFile = input;
            const EmbedderRun run = RunEmbedder(dir, options);
            EXPECT_EQ(run.process.exitStatus, 44);
            EXPECT_TRUE(EndsWith(run.process.out,
                                 "[ERROR] code 44 (An I/O error occurred). "
                                 "Output file is the input file\n\n"))
                << run.process.out;
            EXPECT_EQ(ReadWholeFile(input), original);
            EXPECT_FALSE(TraceHas(run.trace, "CreatePellionAudioEmbedder"));
        }
    }
    struct stat info {};
    ASSERT_EQ(lstat(dir.path("symlink.wav").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// Raw input redirected from a file: the output must not be that file either.
TEST(E2eEmbedderSafetyTest, OutputNamingTheFileOnStandardInputEndsTheRunAndLeavesItAlone) {
    WorkDir dir;
    const std::string input = dir.path("in.raw");
    const ByteVector original = TestSamples(2 * kBlockFrames, 2, 16);
    WriteWholeFile(input, original);
    ASSERT_EQ(link(input.c_str(), dir.path("hardlink.raw").c_str()), 0);
    for (const std::string& output : {input, dir.path("hardlink.raw")}) {
        SCOPED_TRACE(output);
        WriteWholeFile(input, original);
        ProcessOptions options =
            EmbedderOptions(dir, Concat({"-c", "exec \"$0\" \"$@\" < \"$INPUT_FILE\"",
                                         EmbedderToolPath(), "stdin", output},
                                        StdinFormatArgs(2, 16, "le")));
        options.env["INPUT_FILE"] = input;
        const ProcessResult result = RunProcess("/bin/sh", options);
        EXPECT_EQ(result.exitStatus, 44);
        EXPECT_TRUE(EndsWith(result.out,
                             "[ERROR] code 44 (An I/O error occurred). "
                             "Output file is the input file\n\n"))
            << result.out;
        EXPECT_EQ(ReadWholeFile(input), original);
        EXPECT_FALSE(TraceHas(ReadLines(TracePath(dir)), "CreatePellionAudioEmbedder"));
    }
}

TEST(E2eEmbedderSafetyTest, WavOutputOnAFullDeviceIsAnIoError) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    WriteWholeFile(input, SimpleWav(2, 48000, 16, TestSamples(3 * kBlockFrames, 2, 16)));
    const EmbedderRun run = RunEmbedder(dir, EmbedderOptions(dir, {input, "/dev/full"}));
    EXPECT_EQ(run.process.exitStatus, 44);
    EXPECT_TRUE(
        EndsWith(run.process.out,
                 "[ERROR] code 44 (An I/O error occurred). Unable to write output file\n\n"))
        << run.process.out;
    EXPECT_EQ(run.process.out.find("[SUCCESS]"), std::string::npos);
}

// Raw input of far more than a pipe holds, so that the program is still writing when the
// reader of its standard output, the FIFO, goes or stalls.
ProcessOptions RawIntoFifo(const WorkDir& dir, const OutputFifo& fifo) {
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", "stdout"}, StdinFormatArgs(2, 16, "le")));
    options.stdinDevNull = false;
    options.stdinChunks = StdinAtOnce(TestSamples(3 * 48000, 2, 16));
    options.stdoutFile = fifo.path();
    options.timeout = milliseconds(15000);
    return options;
}

// The reader leaves at a known point: eight blocks fed, all but the two the embedder holds
// back received, the program waiting for more input. Only then does the rest of it come.
TEST(E2eEmbedderSafetyTest, ClosedPipeOnStandardOutputIsAnIoError) {
    WorkDir dir;
    OutputFifo fifo(dir);
    ASSERT_TRUE(fifo.valid());
    ProcessOptions options = RawIntoFifo(dir, fifo);
    const std::string samples = options.stdinChunks[0].bytes;
    const size_t firstBytes = 8 * kBlockFrames * 4;
    options.stdinChunks = {{milliseconds(0), samples.substr(0, firstBytes)},
                           {milliseconds(60000), samples.substr(firstBytes)}};
    ChildProcess child(EmbedderToolPath(), options);
    ASSERT_TRUE(child.PumpUntil([&] {
        fifo.Drain();
        return fifo.received().size() == 6 * kBlockFrames * 4;
    })) << fifo.received().size();
    fifo.CloseReader();
    child.FeedNextChunkNow();
    const ProcessResult result = child.Finish();
    EXPECT_EQ(result.exitStatus, 44);
    EXPECT_EQ(result.err,
              "pellion-embed: cannot write standard output: Broken pipe\n"
              "[ERROR] code 44 (An I/O error occurred). "
              "Unable to write audio to standard output\n\n");
    const Strings trace = ReadLines(TracePath(dir));
    EXPECT_TRUE(TraceHas(trace, "Finalize"));
    // The loss is noticed at the next block, not at the end of the input: of the 282 blocks
    // only those fed before the reader left, and the few the embedder had queued, went in.
    EXPECT_LT(TraceLinesOf(trace, "AddAudioBuffer").size(), 141u);
}

TEST(E2eEmbedderSafetyTest, StopSignalDuringAPacedWavRunEndsItInOrder) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    const std::string output = dir.path("out.wav");
    const ByteVector samples = TestSamples(4 * 48000, 1, 16);  // four seconds
    WriteWholeFile(input, SimpleWav(1, 48000, 16, samples));
    ChildProcess child(EmbedderToolPath(), EmbedderOptions(dir, {input, output}));
    ASSERT_TRUE(WaitForTraceOf(child, dir, "AddAudioBuffer"));
    child.PumpFor(milliseconds(300));
    const auto signalled = Clock::now();
    child.Signal(SIGTERM);
    const ProcessResult result = child.Finish();
    // Well before the rest of the file would have been played.
    EXPECT_LT(Seconds(Clock::now() - signalled).count(), 2.0);
    EXPECT_EQ(result.exitStatus, 128 + SIGTERM);

    const Strings trace = ReadLines(TracePath(dir));
    const Strings ending = {"Finalize", "DestroyPellionAudioEmbedder"};
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(Strings(trace.end() - 2, trace.end()), ending);
    const WrittenWav wav = ReadWrittenWav(output);
    EXPECT_TRUE(wav.complete) << wav.problem;
    const uint64_t handedOver = BytesHandedOver(trace);
    EXPECT_EQ(wav.samples.size(), handedOver);
    ASSERT_GT(handedOver, 0u);
    ASSERT_LT(handedOver, samples.size());
    EXPECT_EQ(WithoutMark(wav.samples, 16), WithoutMark(Prefix(samples, handedOver), 16));
    // An interrupted run is no success: its one result line says what the output holds.
    EXPECT_TRUE(EndsWith(result.out, InterruptedLine("SIGTERM", handedOver / 2))) << result.out;
    EXPECT_EQ(result.out.find("[SUCCESS]"), std::string::npos);
}

TEST(E2eEmbedderSafetyTest, StopSignalWhileStandardInputWaitsEndsTheRunInOrder) {
    struct Row {
        int signalNumber;
        bool rawOutput;
    };
    for (const Row& row : {Row{SIGINT, false}, Row{SIGTERM, true}}) {
        SCOPED_TRACE(row.rawOutput ? "raw output" : "WAV output");
        WorkDir dir;
        const std::string output = row.rawOutput ? "stdout" : dir.path("out.wav");
        // 250 frames and one byte more, then nothing for long: the read that the signal cuts
        // short ends in the middle of a frame, which is dropped.
        const ByteVector first = TestSamples(250, 2, 16);
        ByteVector sent = first;
        sent.push_back(0x5A);
        ProcessOptions options =
            EmbedderOptions(dir, Concat({"stdin", output}, StdinFormatArgs(2, 16, "le")));
        options.stdinDevNull = false;
        options.stdinChunks = {{milliseconds(0), TextOf(sent)},
                               {milliseconds(60000), TextOf(TestSamples(250, 2, 16))}};
        ChildProcess child(EmbedderToolPath(), options);
        ASSERT_TRUE(
            child.PumpUntil([&] { return WaitsInCall(child.pid(), row.signalNumber, SYS_poll); }));
        child.Signal(row.signalNumber);
        const ProcessResult result = child.Finish();
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 128 + row.signalNumber);
        const std::string line =
            InterruptedLine(row.signalNumber == SIGINT ? "SIGINT" : "SIGTERM", 250);

        const Strings trace = ReadLines(TracePath(dir));
        const Strings ending = {"AddAudioBuffer 1000 null", "Finalize",
                                "DestroyPellionAudioEmbedder"};
        ASSERT_GE(trace.size(), ending.size());
        EXPECT_EQ(Strings(trace.end() - 3, trace.end()), ending);
        if (row.rawOutput) {
            // Standard output holds the audio and nothing else; the result line, printed even
            // when silent, goes to standard error.
            EXPECT_EQ(WithoutMark(BytesOf(result.out), 16), WithoutMark(first, 16));
            EXPECT_EQ(result.err, line);
        } else {
            EXPECT_TRUE(EndsWith(result.out, line)) << result.out;
            const WrittenWav wav = ReadWrittenWav(output);
            EXPECT_TRUE(wav.complete) << wav.problem;
            EXPECT_EQ(WithoutMark(wav.samples, 16), WithoutMark(first, 16));
        }
    }
}

TEST(E2eEmbedderSafetyTest, SecondStopSignalEndsAStuckRunAtOnce) {
    WorkDir dir;
    OutputFifo fifo(dir);  // never read: the program gets stuck writing
    ASSERT_TRUE(fifo.valid());
    ChildProcess child(EmbedderToolPath(), RawIntoFifo(dir, fifo));
    ASSERT_TRUE(child.PumpUntil([&] { return fifo.Full(); }));
    child.Signal(SIGTERM);
    // The output has about a second after the first signal to take what is pending.
    child.PumpFor(milliseconds(100));
    ASSERT_TRUE(StillRunning(child.pid()));
    const auto second = Clock::now();
    child.Signal(SIGTERM);
    const ProcessResult result = child.Finish();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_LT(Seconds(Clock::now() - second).count(), 2.0);
}

// A reader that takes nothing holds the library's thread in its write, and the driver in
// AddAudioBuffer or Finalize behind it: a stop still ends the run, and says that audio was left
// out, whether the output is standard output or a FIFO named as the WAV output, and also when
// the input had all been fed before the stop.
TEST(E2eEmbedderSafetyTest, StopSignalEndsARunWhoseReaderTakesNothing) {
    struct Row {
        const char* name;
        bool wavOutput;         // the FIFO is the named WAV output, not standard output
        bool signalAtFinalize;  // all fed: the stop comes while the job is finalised
    };
    for (const Row& row : {Row{"standard output", false, false}, Row{"named FIFO", true, false},
                           Row{"named FIFO, all fed", true, true}}) {
        SCOPED_TRACE(row.name);
        WorkDir dir;
        OutputFifo fifo(dir);  // read only once the run has ended
        ASSERT_TRUE(fifo.valid());
        ProcessOptions options = RawIntoFifo(dir, fifo);
        if (row.wavOutput) {
            options.args[1] = fifo.path();
            options.stdoutFile.reset();
        }
        if (row.signalAtFinalize) {
            // Two blocks fill the pipe, the rest waits in the embedder until it is finalised.
            fcntl(fifo.reader(), F_SETPIPE_SZ, 4096);
            options.stdinChunks = StdinAtOnce(TestSamples(8 * kBlockFrames, 2, 16));
            options.env["PELLION_STANDIN_FAULTS"] = "delay@Finalize=300";
        }
        ChildProcess child(EmbedderToolPath(), options);
        ASSERT_TRUE(row.signalAtFinalize ? WaitForTraceOf(child, dir, "Finalize")
                                         : child.PumpUntil([&] { return fifo.Full(); }));
        const auto signalled = Clock::now();
        child.Signal(SIGTERM);
        const ProcessResult result = child.Finish();
        EXPECT_LT(Seconds(Clock::now() - signalled).count(), 6.0);
        EXPECT_EQ(result.exitStatus, 128 + SIGTERM);
        fifo.Drain();
        // Blocks and the header go into the pipe whole or not at all.
        const size_t header = row.wavOutput ? 44 : 0;
        std::string line = InterruptedLine("SIGTERM", (fifo.received().size() - header) / 4);
        line.insert(line.size() - 1, " The output did not take all the audio.");
        EXPECT_TRUE(EndsWith(row.wavOutput ? result.out : result.err, line))
            << result.out << result.err;
    }
}

// A stop signal may be delivered to any thread that does not block it, among them the library's
// thread that is writing audio to standard output. It must not cost the audio handed over.
TEST(E2eEmbedderSafetyTest, StopSignalLandingOnALibraryThreadLosesNoAudio) {
    WorkDir dir;
    OutputFifo fifo(dir);  // read only after the signal: until then the writing thread waits
    ASSERT_TRUE(fifo.valid());
    const ProcessOptions options = RawIntoFifo(dir, fifo);
    const ByteVector samples = BytesOf(options.stdinChunks[0].bytes);
    ChildProcess child(EmbedderToolPath(), options);
    // The driver waits to hand over a block; input it has read ahead stays behind.
    ASSERT_TRUE(child.PumpUntil(
        [&] { return fifo.Full() && WaitsInCall(child.pid(), SIGTERM, SYS_futex); }));
    const std::vector<pid_t> libraryThreads = OtherThreads(child.pid());
    ASSERT_FALSE(libraryThreads.empty());
    const uint64_t handedOverBeforeSignal = BytesHandedOver(ReadLines(TracePath(dir)));
    ASSERT_EQ(syscall(SYS_tgkill, child.pid(), libraryThreads.front(), SIGTERM), 0);
    child.PumpUntil([&] { return fifo.Drain(); }, std::chrono::seconds(15));
    const ProcessResult result = child.Finish();
    EXPECT_EQ(result.exitStatus, 128 + SIGTERM);
    const uint64_t handedOver = BytesHandedOver(ReadLines(TracePath(dir)));
    EXPECT_EQ(result.err, InterruptedLine("SIGTERM", handedOver / 4));
    EXPECT_EQ(handedOver, handedOverBeforeSignal);
    ASSERT_LT(handedOver, samples.size());
    EXPECT_EQ(WithoutMark(BytesOf(fifo.received()), 16),
              WithoutMark(Prefix(samples, handedOver), 16));
}

// The main thread waits in a read of standard input when the signal lands on the library's
// thread: only the signal passed on to it can end that read.
TEST(E2eEmbedderSafetyTest, StopSignalLandingOnALibraryThreadEndsAWaitingRead) {
    WorkDir dir;
    const ByteVector first = TestSamples(3 * kBlockFrames, 2, 16);
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", dir.path("out.wav")}, StdinFormatArgs(2, 16, "le")));
    options.stdinDevNull = false;
    options.stdinChunks = {{milliseconds(0), TextOf(first)},
                           {milliseconds(60000), TextOf(TestSamples(kBlockFrames, 2, 16))}};
    options.timeout = milliseconds(20000);
    ChildProcess child(EmbedderToolPath(), options);
    ASSERT_TRUE(child.PumpUntil([&] { return WaitsInCall(child.pid(), SIGTERM, SYS_poll); }));
    const std::vector<pid_t> libraryThreads = OtherThreads(child.pid());
    ASSERT_FALSE(libraryThreads.empty());
    const auto signalled = Clock::now();
    ASSERT_EQ(syscall(SYS_tgkill, child.pid(), libraryThreads.front(), SIGTERM), 0);
    const ProcessResult result = child.Finish();
    EXPECT_LT(Seconds(Clock::now() - signalled).count(), 5.0);
    EXPECT_EQ(result.exitStatus, 128 + SIGTERM);
    EXPECT_TRUE(EndsWith(result.out, InterruptedLine("SIGTERM", 3 * kBlockFrames))) << result.out;
}

TEST(E2eEmbedderSafetyTest, RefusedBlockStillLeavesACompleteWavFile) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    const std::string output = dir.path("out.wav");
    const ByteVector samples = TestSamples(4 * kBlockFrames, 2, 24);
    WriteWholeFile(input, SimpleWav(2, 48000, 24, samples));
    const EmbedderRun run =
        RunEmbedder(dir, EmbedderOptions(dir, {input, output, "--silent"}, "AddAudioBuffer@3=27"));
    EXPECT_EQ(run.process.exitStatus, 19);
    EXPECT_EQ(run.process.out,
              "[ERROR] code 19 (A buffer whose size is not a factor of sample size has been "
              "provided). Add Audio Buffer failed\n\n");
    EXPECT_TRUE(TraceHas(run.trace, "Finalize"));
    const WrittenWav wav = ReadWrittenWav(output);
    EXPECT_TRUE(wav.complete) << wav.problem;
    // The two blocks accepted before the refused one.
    EXPECT_EQ(WithoutMark(wav.samples, 24), WithoutMark(Prefix(samples, 2 * kBlockFrames * 6), 24));
}

// With --on-embedder-failure=bypass a live chain whose embedder fails goes on: every frame
// reaches standard output once and in order, marked as far as the embedder gave it back and
// unmarked from there, the alarm comes at once, and the exit status is the failure's code. An
// embedder that works again is set up anew and marks again within the interval.
TEST(E2eEmbedderSafetyTest, BypassKeepsALiveChainGoingWhenTheEmbedderFails) {
    constexpr size_t kBlockBytes = kBlockFrames * 4;
    for (const bool rearm : {false, true}) {
        SCOPED_TRACE(rearm ? "re-armed" : "bypassed");
        WorkDir dir;
        const ByteVector input = TestSamples((rearm ? 6 : 20) * 48000, 2, 16);
        ProcessOptions options =
            EmbedderOptions(dir,
                            Concat({"stdin", "stdout", "--on-embedder-failure=bypass",
                                    rearm ? "--rearm-interval=1" : "--rearm-interval=100"},
                                   StdinFormatArgs(2, 16, "le")),
                            rearm ? "AddAudioBuffer@100=14" : "AddAudioBuffer@300=14");
        options.stdinDevNull = false;
        options.stdinChunks = StdinAtOnce(input);
        if (rearm) {
            // At about the pace of real time, two blocks (21.3 ms) every 21 ms.
            options.stdinChunks.clear();
            for (size_t at = 0; at < input.size(); at += 2 * kBlockBytes) {
                const size_t end = std::min(input.size(), at + 2 * kBlockBytes);
                options.stdinChunks.push_back(
                    {milliseconds(21), std::string(input.begin() + at, input.begin() + end)});
            }
        }
        const ProcessResult result = RunProcess(EmbedderToolPath(), options);
        EXPECT_EQ(result.exitStatus, 11);
        EXPECT_NE(result.err.find("Alarm: AddAudioBuffer failed with library code 14"),
                  std::string::npos)
            << result.err;
        const ByteVector output = BytesOf(result.out);
        ASSERT_EQ(output.size(), input.size());
        EXPECT_EQ(WithoutMark(output, 16), WithoutMark(input, 16));
        // Which blocks came out marked: the embedder changed their least significant bits.
        std::vector<bool> marked;
        for (size_t at = 0; at < output.size(); at += kBlockBytes) {
            const size_t end = std::min(output.size(), at + kBlockBytes);
            marked.push_back(
                !std::equal(output.begin() + at, output.begin() + end, input.begin() + at));
        }
        const size_t firstUnmarked =
            std::find(marked.begin(), marked.end(), false) - marked.begin();
        EXPECT_GT(firstUnmarked, 0u);
        EXPECT_LT(firstUnmarked, rearm ? 99u : 299u);
        const size_t marksAgain =
            std::find(marked.begin() + firstUnmarked, marked.end(), true) - marked.begin();
        if (!rearm) {
            EXPECT_EQ(marksAgain, marked.size());  // unmarked to the end
            continue;
        }
        // The failure at block 100, then at most a second (96 blocks at this pace) and two.
        EXPECT_LE(marksAgain, 99u + 96 + 2);
        EXPECT_NE(result.err.find("Note: the embedder is set up again"), std::string::npos);
    }
}

}  // namespace
