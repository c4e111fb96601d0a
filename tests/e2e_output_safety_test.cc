// What a user may rely on about the output, whatever ends the run: a WAV file that common
// readers open after SIGKILL or a full disk, an earlier output kept when set-up fails, the
// input never overwritten through standard output, and no two runs writing one file.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "e2e_embedder_support.h"
#include "e2e_online_support.h"
#include "wav_layout.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Strings = std::vector<std::string>;

// The sizes in the header of a WAV file as the programs write it, and its sample bytes as far
// as the header claims them.
struct HeaderView {
    bool found = false;
    size_t headerBytes = 0;
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;
    size_t fileBytes = 0;
    ByteVector claimedSamples;
};

HeaderView ViewHeader(const std::string& path) {
    HeaderView view;
    const ByteVector bytes = ReadWholeFile(path);
    view.fileBytes = bytes.size();
    if (bytes.size() < 44) return view;
    view.headerBytes = LoadU32At(bytes, 16) == 40 ? 68 : 44;
    if (bytes.size() < view.headerBytes) return view;
    view.found = true;
    view.riffSize = LoadU32At(bytes, 4);
    view.dataSize = LoadU32At(bytes, view.headerBytes - 4);
    const size_t claimed = std::min<size_t>(view.dataSize, bytes.size() - view.headerBytes);
    view.claimedSamples.assign(
        bytes.begin() + static_cast<std::ptrdiff_t>(view.headerBytes),
        bytes.begin() + static_cast<std::ptrdiff_t>(view.headerBytes + claimed));
    return view;
}

void ExpectRealReadersSee(const std::string& path, long long frames) {
    for (const std::string tool : {"sox", "ffprobe", "sndfile-info"}) {
        const long long seen = FramesReadBy(tool, path);
        if (seen == -1) {
            std::printf("note: %s is not installed (scripts/install_audio_tools.sh); not checked\n",
                        tool.c_str());
            continue;
        }
        EXPECT_EQ(seen, frames) << tool << " on " << path;
    }
}

// SIGKILL cannot be caught: the header must already be true about the audio on disk.
TEST(E2eOutputSafetyTest, KilledRunLeavesAWavFileReadersTakeUpToTheLastSecond) {
    for (const int bits : {16, 24}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        WorkDir dir;
        const int frameBytes = 2 * bits / 8;
        const ByteVector samples = TestSamples(5 * 48000, 2, bits);
        WriteWholeFile(dir.path("in.wav"),
                       SimpleWav(2, 48000, static_cast<uint16_t>(bits), samples));
        const std::string output = dir.path("out.wav");
        ChildProcess child(EmbedderToolPath(), EmbedderOptions(dir, {dir.path("in.wav"), output}));
        // About 1.7 s of audio fed at the pace of real time.
        child.PumpUntil(
            [&] { return TraceLinesOf(ReadLines(TracePath(dir)), "AddAudioBuffer").size() >= 160; },
            std::chrono::seconds(20));
        child.Signal(SIGKILL);
        const ProcessResult result = child.Finish();
        ASSERT_EQ(result.signal, SIGKILL);
        // 24-bit samples reach the embedder as 32-bit words.
        const uint64_t fedFrames =
            BytesHandedOver(ReadLines(TracePath(dir))) / (bits == 24 ? 8 : frameBytes);
        ASSERT_GE(fedFrames, 160u * 512);

        const HeaderView view = ViewHeader(output);
        ASSERT_TRUE(view.found) << view.fileBytes << " bytes";
        EXPECT_EQ(view.riffSize, view.headerBytes - 8 + view.dataSize);
        EXPECT_EQ(view.dataSize % frameBytes, 0u);
        EXPECT_LE(view.dataSize, view.fileBytes - view.headerBytes);
        // At most a second, the blocks the embedder holds back and a buffer's worth behind.
        EXPECT_GE(view.dataSize / frameBytes + 48000u + 8 * 512, fedFrames);
        EXPECT_EQ(WithoutMark(view.claimedSamples, bits),
                  WithoutMark(Prefix(samples, view.dataSize), bits));
        ExpectRealReadersSee(output, view.dataSize / frameBytes);
    }
}

// At every instant the output path holds nothing, the earlier output, or a WAV file whose sizes
// are true: while the embedder still holds all the audio back (here 2 s of it), while a slow
// set-up (a network round trip) keeps the audio from starting, and through a link to a file
// that does not exist yet.
TEST(E2eOutputSafetyTest, EarlyKillLeavesNothingTheEarlierOutputOrATrueWavFile) {
    struct Row {
        const char* name;
        bool earlierOutput;
        bool danglingLink;
        const char* faults;
    };
    const ByteVector earlier = SimpleWav(1, 48000, 16, Pattern(960, 3));
    for (const Row& row : {Row{"new", false, false, "latency=200"},
                           Row{"earlier output", true, false, "latency=200"},
                           Row{"slow set-up", false, false, "delay@Initialize=300"},
                           Row{"link, slow set-up", false, true, "delay@Initialize=300"}}) {
        for (int delay = 0; delay <= 300; delay += 30) {
            SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(delay) + " ms");
            WorkDir dir;
            WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 24, TestSamples(9600, 2, 24)));
            const std::string output = dir.path(row.danglingLink ? "target.wav" : "out.wav");
            if (row.danglingLink) symlink("target.wav", dir.path("out.wav").c_str());
            if (row.earlierOutput) WriteWholeFile(output, earlier);
            ProcessOptions options =
                EmbedderOptions(dir, {dir.path("in.wav"), dir.path("out.wav")});
            options.env["PELLION_STANDIN_FAULTS"] = row.faults;
            ChildProcess child(EmbedderToolPath(), options);
            child.PumpFor(milliseconds(delay));
            child.Signal(SIGKILL);
            child.Finish();
            if (!std::filesystem::exists(output)) {
                EXPECT_FALSE(row.earlierOutput);
                continue;
            }
            if (row.earlierOutput && ReadWholeFile(output) == earlier) continue;
            const HeaderView view = ViewHeader(output);
            ASSERT_TRUE(view.found) << view.fileBytes << " bytes";
            EXPECT_EQ(view.riffSize, view.headerBytes - 8 + view.dataSize);
            EXPECT_LE(view.dataSize, view.fileBytes - view.headerBytes);
        }
    }
}

// An input whose header takes megabytes (a broadcast file's 'bext'): killed while its output
// replaces an earlier one, or is made through a link to a file that does not exist yet, caught
// by watching the file change, the run leaves the earlier output, nothing, or a WAV file with
// true sizes, never a torn header.
TEST(E2eOutputSafetyTest, KillWhileABigHeaderGoesInNeverTearsIt) {
    WorkDir dir;
    WriteWholeFile(dir.path("in.wav"), RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16)),
                                                 Chunk("bext", Pattern((8 << 20) - 64)),
                                                 Chunk("data", TestSamples(48000, 2, 16))}));
    const ByteVector earlier = SimpleWav(2, 48000, 16, TestSamples(48000, 2, 16));
    constexpr size_t kDataAt = 12 + 24 + 8 + (8 << 20) - 64;  // where the audio chunk begins
    for (const bool danglingLink : {false, true}) {
        const std::string output = dir.path(danglingLink ? "target.wav" : "out.wav");
        for (int round = 0; round < 8; ++round) {
            SCOPED_TRACE((danglingLink ? "link, round " : "earlier output, round ") +
                         std::to_string(round));
            std::filesystem::remove(dir.path("out.wav"));
            std::filesystem::remove(output);
            if (danglingLink) symlink("target.wav", dir.path("out.wav").c_str());
            if (!danglingLink) WriteWholeFile(output, earlier);
            ChildProcess child(
                EmbedderToolPath(),
                EmbedderOptions(dir, {dir.path("in.wav"), dir.path("out.wav"), "--unpaced"}));
            const auto giveUp = Clock::now() + std::chrono::seconds(10);
            struct stat status {};
            while (Clock::now() < giveUp &&
                   (danglingLink ? stat(output.c_str(), &status) != 0
                                 : stat(output.c_str(), &status) == 0 &&
                                       static_cast<size_t>(status.st_size) == earlier.size())) {
            }
            // Each round a little later into the header.
            const auto killAt = Clock::now() + std::chrono::microseconds(300 * round);
            while (Clock::now() < killAt) {
            }
            child.Signal(SIGKILL);
            child.Finish();
            if (!std::filesystem::exists(output)) continue;
            const ByteVector bytes = ReadWholeFile(output);
            if (bytes == earlier) continue;
            // Audio written since the last size update follows what the sizes cover. The two
            // sizes lie pages apart, so the audio's goes in first: a kill between the two
            // leaves the RIFF size behind the audio chunk (which readers take), never ahead.
            ASSERT_GE(bytes.size(), kDataAt + 8) << "a torn header";
            const size_t dataEnd = kDataAt + 8 + LoadU32At(bytes, kDataAt + 4);
            EXPECT_LE(LoadU32At(bytes, 4) + size_t{8}, dataEnd);
            ByteVector asRead = Prefix(bytes, dataEnd);  // readers stop at the audio's end
            ByteVector riffSize;
            PutU32(riffSize, static_cast<uint32_t>(dataEnd - 8));
            std::copy(riffSize.begin(), riffSize.end(), asRead.begin() + 4);
            const WavLayout layout = ParseWavLayout(asRead);
            EXPECT_EQ(layout.problem, "") << bytes.size() << " bytes";
            EXPECT_EQ(layout.Ids(), Strings({"fmt ", "bext", "data"}));
        }
    }
}

// A small file system of its own, mounted for the test and removed with it.
class SmallTmpfs {
public:
    SmallTmpfs(const std::string& dir, const char* size) : dir_(dir) {
        std::filesystem::create_directory(dir_);
        const std::string options = std::string("size=") + size;
        mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;
    ~SmallTmpfs() {
        if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

TEST(E2eOutputSafetyTest, FullDiskKeepsEveryWholeFrameThatReachedIt) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    WorkDir dir;
    SmallTmpfs disk(dir.path("disk"), "64k");
    if (!disk.mounted()) GTEST_SKIP() << "this machine does not let the test mount a tmpfs";
    const std::string output = dir.path("disk/out.wav");
    const ByteVector samples = TestSamples(48000, 2, 24);  // 288,000 bytes: far too many
    ProcessOptions options =
        EmbedderOptions(dir, Concat({"stdin", output}, StdinFormatArgs(2, 24, "le")));
    options.stdinDevNull = false;
    options.stdinChunks = StdinAtOnce(samples);
    const ProcessResult result = RunProcess(EmbedderToolPath(), options);

    EXPECT_EQ(result.exitStatus, 44);
    EXPECT_TRUE(EndsWith(
        result.out, "[ERROR] code 44 (An I/O error occurred). Unable to write output file\n\n"))
        << result.out;
    const HeaderView view = ViewHeader(output);
    ASSERT_TRUE(view.found);
    EXPECT_GT(view.dataSize, 32768u);
    EXPECT_EQ(view.dataSize % 6, 0u);
    EXPECT_EQ(view.fileBytes, view.headerBytes + view.dataSize);
    EXPECT_EQ(view.riffSize, 60 + view.dataSize);
    EXPECT_EQ(WithoutMark(view.claimedSamples, 24),
              WithoutMark(Prefix(samples, view.dataSize), 24));
    ExpectRealReadersSee(output, view.dataSize / 6);
}

// Where the input's chunks do not fit, they go before the audio does; where not even a header
// fits, the file the run created is removed.
TEST(E2eOutputSafetyTest, DiskTooFullForTheHeaderLeavesATrueWavFileOrNone) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    for (const bool roomForAudio : {true, false}) {
        SCOPED_TRACE(roomForAudio ? "room for some audio" : "no room at all");
        WorkDir dir;
        SmallTmpfs disk(dir.path("disk"), "1m");
        if (!disk.mounted()) GTEST_SKIP() << "this machine does not let the test mount a tmpfs";
        if (!roomForAudio) {
            std::FILE* filler = std::fopen(dir.path("disk/filler").c_str(), "wb");
            const ByteVector block(4096);
            while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
            }
            std::fclose(filler);
        }
        const ByteVector samples = TestSamples(48000, 8, 24);  // 1.15 MB
        WriteWholeFile(dir.path("in.wav"),
                       RiffFile({Chunk("fmt ", ExtensibleFormatBody(8, 48000, 24)),
                                 Chunk("bext", Pattern(4 << 20)), Chunk("data", samples)}));
        const std::string output = dir.path("disk/out.wav");
        const ProcessResult result =
            RunProcess(EmbedderToolPath(), EmbedderOptions(dir, {dir.path("in.wav"), output}));
        EXPECT_EQ(result.exitStatus, 44) << result.out;
        if (!roomForAudio) {
            EXPECT_FALSE(std::filesystem::exists(output));
            continue;
        }
        const WavLayout layout = ParseWavLayout(ReadWholeFile(output));
        EXPECT_EQ(layout.problem, "");
        EXPECT_EQ(layout.Ids(), Strings({"fmt ", "data"}));
        EXPECT_NE(result.err.find("chunks before the audio are not copied"), std::string::npos);
    }
}

// A file-size limit fails a write (EFBIG) as a full disk does, instead of killing the run.
// Where not even the header fits over an earlier file, the earlier file is put back.
TEST(E2eOutputSafetyTest, FileSizeLimitEndsTheRunAsAFullDiskDoes) {
    struct Row {
        const char* name;
        bool wavOutput;
        const char* limit;  // the shell words before the program
        ByteVector earlier;
    };
    const Row rows[] = {
        {"WAV file", true, "ulimit -f 100; exec", {}},
        {"standard output", false, "ulimit -f 100; exec", {}},
        {"no room for a header over a text", true, "exec prlimit --fsize=43", BytesOf("hello")},
        {"no room for a header over a WAV file", true, "exec prlimit --fsize=43",
         SimpleWav(2, 48000, 16, TestSamples(48000, 2, 16))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WorkDir dir;
        const std::string output =
            row.wavOutput ? dir.path("out.wav") : "stdout >" + dir.path("o.raw");
        if (!row.earlier.empty()) WriteWholeFile(output, row.earlier);
        ProcessOptions options = EmbedderOptions(
            dir, Concat({"-c", std::string(row.limit) + " \"$0\" stdin " + output + " \"$@\"",
                         EmbedderToolPath()},
                        StdinFormatArgs(2, 24, "le")));
        options.stdinDevNull = false;
        options.stdinChunks = StdinAtOnce(TestSamples(48000, 2, 24));
        const ProcessResult result = RunProcess("/bin/sh", options);
        EXPECT_EQ(result.exitStatus, 44) << result.out << result.err;
        EXPECT_NE(result.err.find(": File too large\n"), std::string::npos) << result.err;
        if (!row.earlier.empty()) {
            EXPECT_EQ(ReadWholeFile(output), row.earlier);
            continue;
        }
        if (!row.wavOutput) continue;
        const HeaderView view = ViewHeader(output);
        EXPECT_EQ(view.fileBytes, view.headerBytes + view.dataSize);
        EXPECT_EQ(view.riffSize, view.headerBytes - 8 + view.dataSize);
        EXPECT_EQ(view.dataSize % 6, 0u);
    }
}

struct FileState {
    ByteVector bytes;
    ino_t inode = 0;
    mode_t mode = 0;
};

FileState StateOf(const std::string& path) {
    FileState state;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return state;
    state.bytes = ReadWholeFile(path);
    state.inode = status.st_ino;
    state.mode = status.st_mode;
    return state;
}

// The set-up failures a user meets when re-running a command with a typo. Each leaves an
// earlier output exactly as it was, and creates none where there was none.
TEST(E2eOutputSafetyTest, FailedSetUpLeavesTheOutputPathAsItWas) {
    struct Row {
        const char* name;
        bool online;
        int exitStatus;
        std::function<void(const WorkDir&, Strings&)> prepare;
    };
    const auto addArg = [](const std::string& arg) {
        return [arg](const WorkDir&, Strings& args) { args.push_back(arg); };
    };
    const Row rows[] = {
        {"mistyped channel name", false, 35, addArg("--channelName=STANDIN-Z")},
        {"8-bit input", false, 16,
         [](const WorkDir& dir, Strings&) {
             WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 8, Pattern(4000)));
         }},
        {"record directory that does not exist", false, 44, addArg("--record=/nonexistent/rec")},
        {"affinity with no CPU", false, 6, addArg("--affinity=0")},
        {"metadata that is not JSON", true, 42,
         [](const WorkDir& dir, Strings&) { WriteWholeFile(dir.path("job.json"), "title: x"); }},
        {"metadata file missing", true, 44,
         [](const WorkDir& dir, Strings&) { std::filesystem::remove(dir.path("job.json")); }},
    };
    for (const Row& row : rows) {
        for (const bool earlierOutput : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (earlierOutput ? ", earlier output" : ""));
            WorkDir dir;
            WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, TestSamples(2000, 2, 16)));
            WriteWholeFile(dir.path("job.json"), "{\"title\":\"x\"}");
            Strings args = {dir.path("in.wav"), dir.path("out.wav")};
            if (row.online) args = Concat(args, OnlineAccountArgs(dir.path("job.json")));
            row.prepare(dir, args);
            if (earlierOutput) {
                WriteWholeFile(dir.path("out.wav"), SimpleWav(1, 48000, 16, Pattern(960, 3)));
                ASSERT_EQ(chmod(dir.path("out.wav").c_str(), 0640), 0);
            }
            const FileState before = StateOf(dir.path("out.wav"));

            const ProcessResult result =
                RunProcess(row.online ? OnlineEmbedderToolPath() : EmbedderToolPath(),
                           EmbedderOptions(dir, args));
            EXPECT_EQ(result.exitStatus, row.exitStatus) << result.out;
            const FileState after = StateOf(dir.path("out.wav"));
            EXPECT_EQ(after.bytes, before.bytes);
            EXPECT_EQ(after.inode, before.inode);
            EXPECT_EQ(after.mode, before.mode);
            EXPECT_EQ(std::filesystem::exists(dir.path("out.wav")), earlierOutput);
        }
    }
    // A file created through a link to a file that did not exist is removed again.
    WorkDir dir;
    WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, TestSamples(2000, 2, 16)));
    ASSERT_EQ(symlink("target.wav", dir.path("link.wav").c_str()), 0);
    const ProcessResult result = RunProcess(
        EmbedderToolPath(),
        EmbedderOptions(dir, {dir.path("in.wav"), dir.path("link.wav"), "--channelName=NOPE"}));
    EXPECT_EQ(result.exitStatus, 35) << result.out;
    EXPECT_FALSE(std::filesystem::exists(dir.path("target.wav")));
}

// Before the result line the output is on the disk: the WAV file, then the directory of the
// name the run made; raw output redirected to a file after its last write.
TEST(E2eOutputSafetyTest, OutputIsSyncedBeforeTheRunReportsSuccess) {
    const std::string strace = FindProgram("strace");
    if (strace.empty()) GTEST_SKIP() << "strace is not installed (scripts/install_audio_tools.sh)";
    WorkDir work;
    // Over a second: the sizes are updated once during the run.
    WriteWholeFile(work.path("in.wav"), SimpleWav(2, 48000, 16, TestSamples(52800, 2, 16)));
    for (const std::string& output : {work.path("out.wav"), std::string("stdout")}) {
        ProcessOptions options = EmbedderOptions(
            work, {"-f", "-y", "-e", "trace=fsync,fdatasync,write,pwrite64", "-o", work.path("t"),
                   EmbedderToolPath(), work.path("in.wav"), output, "--unpaced"});
        options.stdoutFile = work.path("out.raw");
        // The leak check cannot stop a traced process's threads; the other checks stay.
        options.env["ASAN_OPTIONS"] = "detect_leaks=0";
        ASSERT_EQ(RunProcess(strace, options).exitStatus, 0);
        const std::string trace = TextOf(ReadWholeFile(work.path("t")));
        const std::string order =
            output == "stdout"
                ? "fdatasync\\(1<" + work.path("out.raw") + ">\\) = 0\n(?![\\s\\S]*write\\(1<)"
                : "fdatasync\\(.*\\) = 0\n.*fsync\\(\\d+<" + work.dir() +
                      ">\\) = 0\n[\\s\\S]*\"\\[SUCCESS";
        EXPECT_TRUE(std::regex_search(trace, std::regex(order)));
        if (output == "stdout") continue;
        // Both sizes of a 44-byte header in one write, never one without the other.
        EXPECT_TRUE(std::regex_search(trace, std::regex("pwrite64\\(.*, 40, 4\\) = 40")));
        EXPECT_FALSE(std::regex_search(trace, std::regex("pwrite64\\(.*, 4, 40\\)"))) << trace;
    }
}

// The run works on the output's descriptors, not on its path: a directory renamed during the
// run, and another made under its old name, change nothing.
TEST(E2eOutputSafetyTest, OutputDirectoryRenamedDuringTheRunChangesNothing) {
    for (const bool newUnderOldName : {false, true}) {
        SCOPED_TRACE(newUnderOldName ? "a new directory under the old name" : "renamed");
        WorkDir dir;
        const ByteVector samples = TestSamples(24000, 2, 16);
        WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, samples));
        std::filesystem::create_directory(dir.path("dd"));
        ChildProcess child(EmbedderToolPath(),
                           EmbedderOptions(dir, {dir.path("in.wav"), dir.path("dd/out.wav")}));
        ASSERT_TRUE(WaitForTraceOf(child, dir, "AddAudioBuffer"));
        std::filesystem::rename(dir.path("dd"), dir.path("dd2"));
        if (newUnderOldName) std::filesystem::create_directory(dir.path("dd"));
        const ProcessResult result = child.Finish();
        EXPECT_EQ(result.exitStatus, 0) << result.out;
        const WrittenWav wav = ReadWrittenWav(dir.path("dd2/out.wav"));
        EXPECT_TRUE(wav.complete) << wav.problem;
        EXPECT_EQ(WithoutMark(wav.samples, 16), WithoutMark(samples, 16));
    }
}

// Standard output redirected onto the input would overwrite the input's header with raw PCM,
// or read back its own output for ever.
TEST(E2eOutputSafetyTest, StandardOutputOntoTheInputIsRefused) {
    struct Row {
        const char* name;
        bool rawInput;
        const char* script;  // $0 the program, $1 the input, then the raw-format options
    };
    for (const Row& row :
         {Row{"WAV input, read-write", false, "exec \"$0\" \"$1\" stdout 1<>\"$1\""},
          Row{"WAV input, appended", false, "exec \"$0\" \"$1\" stdout >>\"$1\""},
          Row{"raw input, appended", true,
              "in=\"$1\"; shift; exec \"$0\" stdin stdout \"$@\" <\"$in\" >>\"$in\""}}) {
        SCOPED_TRACE(row.name);
        WorkDir dir;
        const std::string input = dir.path(row.rawInput ? "in.raw" : "in.wav");
        const ByteVector samples = TestSamples(3000, 2, 16);
        const ByteVector original = row.rawInput ? samples : SimpleWav(2, 48000, 16, samples);
        WriteWholeFile(input, original);
        Strings args = {"-c", row.script, EmbedderToolPath(), input};
        if (row.rawInput) args = Concat(args, StdinFormatArgs(2, 16, "le"));
        ProcessOptions options = EmbedderOptions(dir, args);
        options.timeout = milliseconds(10000);
        const ProcessResult result = RunProcess("/bin/sh", options);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitStatus, 44) << result.err;
        EXPECT_TRUE(EndsWith(result.err,
                             "[ERROR] code 44 (An I/O error occurred). Standard output is the "
                             "input file\n\n"))
            << result.err;
        EXPECT_EQ(ReadWholeFile(input), original);
        EXPECT_FALSE(TraceHas(ReadLines(TracePath(dir)), "CreatePellionAudioEmbedder"));
    }
}

// A program started with standard descriptors closed would open its input and output on them;
// a console line (a library warning, printed even when silent) then lands in the audio. Raw
// standard input opens no file: an earlier output is then the first file the run opens, and
// the warning about a partial last frame comes after it.
TEST(E2eOutputSafetyTest, ClosedStandardDescriptorsCannotReceiveConsoleLines) {
    struct Row {
        const char* closing;
        bool rawInput;
    };
    for (const Row& row : {Row{"<&- >&-", false}, Row{"<&- 2>&-", false},
                           Row{"<&- >&- 2>&-", false}, Row{"2>&-", true}}) {
        for (const bool online : {false, true}) {
            if (online && row.rawInput) continue;  // the online tool reads WAV files only
            SCOPED_TRACE(std::string(row.closing) + (online ? ", online" : ""));
            WorkDir dir;
            const ByteVector samples = TestSamples(3000, 2, 16);
            WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, samples));
            WriteWholeFile(dir.path("job.json"), "{\"title\":\"x\"}");
            ByteVector outputs[2];
            for (const bool closed : {false, true}) {
                ProcessOptions options;
                options.args = {"-c",
                                std::string("exec \"$0\" \"$@\" ") + (closed ? row.closing : ""),
                                online ? OnlineEmbedderToolPath() : EmbedderToolPath(),
                                row.rawInput ? "stdin" : dir.path("in.wav"), dir.path("out.wav")};
                options.args = online
                                   ? Concat(options.args, OnlineAccountArgs(dir.path("job.json")))
                                   : Concat(options.args, {"--silent"});
                if (row.rawInput) options.args = Concat(options.args, StdinFormatArgs(2, 16, "le"));
                // No trace file: it would take the lowest free descriptor first.
                options.unsetEnv = {"PELLION_STANDIN_TRACE"};
                // A warning to the listener, and one on standard error about a rule the
                // library cannot read.
                options.env = {{"PELLION_STANDIN_FAULTS", "message@Initialize=1:7:careful;unread"}};
                options.stdinDevNull = !row.rawInput;
                if (row.rawInput) {
                    WriteWholeFile(dir.path("out.wav"), SimpleWav(1, 48000, 16, Pattern(960)));
                    ByteVector sent = samples;
                    sent.push_back(0x5A);
                    options.stdinChunks = StdinAtOnce(sent);
                }
                const ProcessResult result = RunProcess("/bin/sh", options);
                EXPECT_EQ(result.exitStatus, 0) << result.err;
                const WrittenWav wav = ReadWrittenWav(dir.path("out.wav"));
                EXPECT_TRUE(wav.complete) << wav.problem;
                EXPECT_EQ(WithoutMark(wav.samples, 16), WithoutMark(samples, 16));
                outputs[closed] = ReadWholeFile(dir.path("out.wav"));
            }
            EXPECT_EQ(outputs[0], outputs[1]);
        }
    }
}

TEST(E2eOutputSafetyTest, SecondRunOnAnOutputInUseFailsFastAndTheFirstCompletes) {
    WorkDir dir;
    const ByteVector samples = TestSamples(2 * 48000, 2, 16);
    WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 16, samples));
    WriteWholeFile(dir.path("other.wav"), SimpleWav(1, 48000, 16, TestSamples(4800, 1, 16)));
    const std::string output = dir.path("out.wav");
    ChildProcess first(EmbedderToolPath(), EmbedderOptions(dir, {dir.path("in.wav"), output}));
    ASSERT_TRUE(WaitForTraceOf(first, dir, "AddAudioBuffer"));

    for (const bool online : {false, true}) {
        SCOPED_TRACE(online ? "pellion-embed-online" : "pellion-embed");
        WriteWholeFile(dir.path("job.json"), "{\"title\":\"x\"}");
        Strings args = {dir.path("other.wav"), output};
        if (online) args = Concat(args, OnlineAccountArgs(dir.path("job.json")));
        ProcessOptions options = EmbedderOptions(dir, args);
        options.env = StandinEnv(dir.path("second-trace.txt"));
        const auto started = Clock::now();
        const ProcessResult second =
            RunProcess(online ? OnlineEmbedderToolPath() : EmbedderToolPath(), options);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(second.exitStatus, 44);
        EXPECT_TRUE(EndsWith(second.out,
                             "[ERROR] code 44 (An I/O error occurred). Output file is in use by "
                             "another run\n\n"))
            << second.out;
        EXPECT_FALSE(TraceHas(ReadLines(dir.path("second-trace.txt")), "Initialize"));
    }

    const ProcessResult result = first.Finish();
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    const WrittenWav wav = ReadWrittenWav(output);
    EXPECT_TRUE(wav.complete) << wav.problem;
    EXPECT_EQ(WithoutMark(wav.samples, 16), WithoutMark(samples, 16));
}

}  // namespace
