// Inputs that once made a program hang or exhaust memory: a preallocated WAV file of zeros,
// and a metadata file without end. Each is refused quickly with a clear line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e_online_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// A crashed recorder's preallocated file: a RIFF header, then zeros (sparse, so the test
// writes next to nothing).
TEST(E2eInputLimitsTest, PreallocatedFileOfZerosIsRefusedAtOnce) {
    for (const bool online : {false, true}) {
        SCOPED_TRACE(online ? "pellion-embed-online" : "pellion-embed");
        OnlineJob job;
        const std::string input = job.path("zeros.wav");
        WriteWholeFile(input,
                       ByteVector{'R', 'I', 'F', 'F', 0xF8, 0xFF, 0xFF, 0x7F, 'W', 'A', 'V', 'E'});
        ASSERT_EQ(truncate(input.c_str(), off_t{2} << 30), 0);
        std::vector<std::string> args = job.Args();
        args[0] = input;
        if (!online) args.resize(2);
        ProcessOptions options = job.Options(args);
        options.timeout = std::chrono::seconds(20);
        const auto started = Clock::now();
        const ProcessResult result =
            RunProcess(online ? OnlineEmbedderToolPath() : EmbedderToolPath(), options);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(result.exitStatus, 45);
        EXPECT_EQ(LastConsoleLine(result.out),
                  "[ERROR] code 45 (Unsupported WAV file opened). Unable to open input file");
    }
}

// Millions of empty chunks before the audio: those past the limit of the chunks carried make
// one note, and neither notes nor memory grow with their number.
TEST(E2eInputLimitsTest, MillionsOfChunksMakeOneNoteInBoundedMemory) {
    OnlineJob job;
    ByteVector flood(8 * 3000000);  // chunks "aaaa" of no bytes
    for (size_t i = 0; i < flood.size(); ++i) flood[i] = i % 8 < 4 ? 'a' : 0;
    WriteWholeFile(job.input(), RiffFile({Chunk("fmt ", PlainFormatBody(2, 48000, 16)), flood,
                                          Chunk("data", job.samples())}));
    const ProcessResult result = job.Run();
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_LT(result.peakMemoryKiB, 200 * 1024);
    ASSERT_LT(result.err.size(), 65536u);
    EXPECT_EQ(result.err,
              "Note: 1951424 of the input's chunks (15611392 bytes, headers included) are not "
              "copied: the chunks copied from an input may take 8 MiB in all\n");
}

// The limit is 16 MiB: a job description that size still goes through, one byte more is
// refused before anything reaches the embedder.
TEST(E2eInputLimitsTest, MetadataFileIsReadUpTo16MiB) {
    const size_t limit = size_t{16} << 20;
    OnlineJob job;
    std::string largest = "{\"title\":\"x\"}";
    largest.resize(limit, ' ');
    WriteWholeFile(job.metadata(), largest);
    const ProcessResult accepted = job.Run();
    EXPECT_EQ(accepted.exitStatus, 0) << accepted.out;
    EXPECT_EQ(TraceLinesOf(job.Trace(), "AddMetadata"),
              std::vector<std::string>{"AddMetadata " + std::to_string(limit)});

    const std::string tooLarge =
        "[ERROR] code 44 (An I/O error occurred). Metadata file is too large (more than 16 MiB)";
    // One byte more, and a file without end.
    ASSERT_EQ(truncate(job.metadata().c_str(), static_cast<off_t>(limit + 1)), 0);
    for (const std::string& metadata : {job.metadata(), std::string("/dev/zero")}) {
        SCOPED_TRACE(metadata);
        const auto started = Clock::now();
        const ProcessResult refused = job.Run({"--metadataPath=" + metadata});
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(refused.exitStatus, 44);
        EXPECT_EQ(LastConsoleLine(refused.out), tooLarge);
        EXPECT_FALSE(TraceHas(job.Trace(), "AddMetadata"));
    }
}

// A FIFO gives its content once: the job description must be read in one go.
TEST(E2eInputLimitsTest, MetadataFromAFifoIsReadOnce) {
    OnlineJob job;
    const std::string fifo = job.path("job.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string json = kDefaultMetadata;
    std::thread writer([&] {
        // Without a reader a non-blocking open fails: wait for the program's, within limits.
        int fd = -1;
        const auto giveUp = Clock::now() + std::chrono::seconds(20);
        while ((fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && Clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (fd < 0) return;
        const ssize_t written = write(fd, json.data(), json.size());
        static_cast<void>(written);
        close(fd);
    });
    const ProcessResult result = job.Run({"--metadataPath=" + fifo});
    writer.join();
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_EQ(TraceLinesOf(job.Trace(), "AddMetadata"),
              std::vector<std::string>{"AddMetadata " + std::to_string(json.size())});
}

}  // namespace
