// A WAV file is fed to the embedder at the pace of real time; a live stream on standard input
// is fed as fast as it arrives. The bounds are loose: the machine may be busy.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "e2e_embedder_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

TEST(E2eEmbedderPacingTest, OneSecondWavFileTakesAboutOneSecond) {
    WorkDir dir;
    const std::string input = dir.path("in.wav");
    WriteWholeFile(input, SimpleWav(1, 48000, 16, TestSamples(48000, 1, 16)));
    const auto start = Clock::now();
    const EmbedderRun run =
        RunEmbedder(dir, EmbedderOptions(dir, {input, dir.path("out.wav"), "--silent"}));
    const double elapsed = Seconds(Clock::now() - start).count();
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LE(elapsed, 4.0);
}

// Fed as fast as the embedder takes it, a WAV file gives the paced run's file and calls.
TEST(E2eEmbedderPacingTest, UnpacedWavFileGivesThePacedOutputInAFractionOfItsDuration) {
    WorkDir dir, paced;
    WriteWholeFile(dir.path("in.wav"), SimpleWav(2, 48000, 24, TestSamples(144000, 2, 24)));
    const EmbedderRun reference =
        RunEmbedder(paced, EmbedderOptions(paced, {dir.path("in.wav"), paced.path("out.wav")}));
    const auto start = Clock::now();
    const EmbedderRun run = RunEmbedder(
        dir, EmbedderOptions(dir, {dir.path("in.wav"), dir.path("out.wav"), "--unpaced"}));
    EXPECT_LT(Seconds(Clock::now() - start).count(), 1.5);  // for three seconds of audio
    EXPECT_EQ(ReadWholeFile(dir.path("out.wav")), ReadWholeFile(paced.path("out.wav")));
    EXPECT_EQ(run.trace, reference.trace);
}

TEST(E2eEmbedderPacingTest, StandardInputIsNotPaced) {
    WorkDir dir;
    ProcessOptions options = EmbedderOptions(
        dir, Concat({"stdin", dir.path("out.wav"), "--silent"}, StdinFormatArgs(2, 16, "le")));
    const ByteVector samples = TestSamples(4 * 48000, 2, 16);  // four seconds
    options.stdinChunks = StdinAtOnce(samples);
    const auto start = Clock::now();
    const EmbedderRun run = RunEmbedder(dir, options);
    const double elapsed = Seconds(Clock::now() - start).count();
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_LT(elapsed, 2.0);
    EXPECT_EQ(ReadWrittenWav(dir.path("out.wav")).samples.size(), samples.size());
}

}  // namespace
