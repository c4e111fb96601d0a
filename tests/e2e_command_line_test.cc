// The command-line phase of both programs, run as real processes and compared byte for
// byte: usage text, error line, which stream they go to, and exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "process_runner.h"

namespace {

std::string EmbedderUsage(const std::string& program) {
    return "usage: " + program + " inputFile outputFile\n" +
           "with\n"
           "  inputFile                              : .wav input filename. Set 'stdin' value to "
           "read audio data from standard input (raw pcm).\n"
           "  outputFile                             : .wav output filename. Set 'stdout' value "
           "to write audio data to standard output (raw pcm).\n"
           "  {--channelName=channel_name}           : Name of the channel whose identifier is "
           "embedded (optional).\n"
           "  {--affinity=affinity_mask}             : CPU affinity mask (optional).\n"
           "  {--prio=thread_policy,thread_priority} : Thread priority to use for the given "
           "policy (optional).\n"
           "  {--record=directory_path}              : Path where record wav files are stored "
           "(optional).\n"
           "  {--silent}                             : Silent mode. No message on stdout "
           "(optional).\n"
           "  {--unpaced}                            : Feed a .wav input as fast as the embedder "
           "takes it, not at its real-time pace; the time code then counts at the audio's own "
           "pace from the start of the run. For files, not live play-out (optional).\n"
           "if inputFile value is 'stdin':\n"
           "  --stdin-sampling-rate=value            : input sample rate (Hz). Ex: 48000.\n"
           "  --stdin-nb-channels=value              : input channels count. Ex 2 for stereo, 1 "
           "for mono.\n"
           "  --stdin-bits-per-sample=value          : input bit per sample. Ex: 16 or 24.\n"
           "  --stdin-endianness=value               : input endianness. values: le (little "
           "endian) or be (big endian)\n"
           "\n";
}

std::string OnlineUsage(const std::string& program) {
    return "Usage: " + program + " inputFile outputFile\n" +
           " With:\n"
           " inputFile                              : .wav input filename\n"
           " outputFile                             : .wav output filename\n"
           " {--login=user_login}                   : Login for OnlinePellionEmbedderSDK "
           "(mandatory)\n"
           " {--password=user_password}             : Password for OnlinePellionEmbedderSDK "
           "(mandatory)\n"
           " {--metadataPath=file_path}             : Json metadata file path (mandatory)\n"
           "Options:\n"
           " {--record=directory_path}              : Path where record wav files are stored "
           "(optional)\n"
           " {--server=hostname}                    : Host name of the online service "
           "(optional)\n"
           " {--port=number}                        : Port of the online service (optional)\n"
           "\n"
           " {--affinity=affinity_mask}             : CPU affinity mask (optional)\n"
           " {--prio=thread_policy,thread_priority} : Thread priority to use for the given "
           "policy (optional)\n"
           "\n";
}

std::string CommandLineErrorLine(const std::string& message) {
    return "[ERROR] code 43 (Error on command line). " + message + "\n\n\n";
}

ProcessResult RunTool(const std::string& program, std::vector<std::string> args,
                      std::optional<std::string> argv0 = std::nullopt) {
    ProcessOptions options;
    options.args = std::move(args);
    options.argv0 = std::move(argv0);
    options.stdinDevNull = true;
    options.timeout = std::chrono::milliseconds(10000);
    return RunProcess(program, options);
}

}  // namespace

TEST(E2eCommandLineTest, EmbedderHelpPrintsOnlyTheUsageText) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-h"}, {"stdin", "stdout", "--bogus", "-h"}, {"--help"}}) {
        const ProcessResult result = RunTool(EmbedderToolPath(), args);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, EmbedderUsage("pellion-embed"));
        EXPECT_EQ(result.err, "");
    }
}

// Neither needs an input nor touches a file.
TEST(E2eCommandLineTest, VersionNamesTheProgramAndTheLibrary) {
    for (const std::string& program : {EmbedderToolPath(), OnlineEmbedderToolPath()}) {
        const ProcessResult result = RunTool(program, {"--version"}, "/x/tool");
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out,
                  "tool 1.0\nPellion Embedding SDK version:8.1.0 (stand-in embedder, "
                  "not a watermark)\n");
    }
}

TEST(E2eCommandLineTest, EmbedderCommandLineErrorThenUsage) {
    const ProcessResult result =
        RunTool(EmbedderToolPath(), {"in.wav", "out.wav", "--prio=1"}, "./some/dir/pellion-embed");
    EXPECT_EQ(result.exitStatus, 43);
    EXPECT_EQ(result.out, CommandLineErrorLine("Invalid thread policy/priority)") +
                              EmbedderUsage("pellion-embed"));
    EXPECT_EQ(result.err, "");

    const ProcessResult silent = RunTool(EmbedderToolPath(), {"--silent"}, "C:\\tools\\embed.exe");
    EXPECT_EQ(silent.exitStatus, 43);
    EXPECT_EQ(silent.out, CommandLineErrorLine("Missing first argument (input file)") +
                              EmbedderUsage("embed.exe"));
}

TEST(E2eCommandLineTest, EmbedderErrorGoesToStandardErrorWhenAudioGoesToStandardOutput) {
    const ProcessResult result =
        RunTool(EmbedderToolPath(), {"stdin", "stdout", "--stdin-sampling-rate=44100"});
    EXPECT_EQ(result.exitStatus, 43);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "pellion-embed: raw PCM on standard input needs all four --stdin- options; missing: "
              "--stdin-nb-channels=1|2, --stdin-bits-per-sample=16|24|32, "
              "--stdin-endianness=le|be\n" +
                  CommandLineErrorLine(
                      "Missing mandatory parameter --stdin-nb-channels when input is stdin") +
                  EmbedderUsage("pellion-embed"));
}

TEST(E2eCommandLineTest, OnlineHelpPrintsOnlyTheUsageText) {
    const ProcessResult result =
        RunTool(OnlineEmbedderToolPath(), {"in.wav", "--silent", "-h"}, "/opt/x/online-tool");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, OnlineUsage("online-tool"));
    EXPECT_EQ(result.err, "");
}

TEST(E2eCommandLineTest, OnlineCommandLineErrorThenUsage) {
    const ProcessResult result =
        RunTool(OnlineEmbedderToolPath(), {"in.wav", "stdout"}, "../bin/pellion-embed-online");
    EXPECT_EQ(result.exitStatus, 43);
    // Nothing goes to standard error: this tool never writes audio to standard output.
    EXPECT_EQ(result.out,
              CommandLineErrorLine("Invalid login") + OnlineUsage("pellion-embed-online"));
    EXPECT_EQ(result.err, "");
}
