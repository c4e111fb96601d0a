#include "embedder_settings.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "command_line_test_support.h"

using Args = std::vector<std::string>;

namespace {

std::string ReadError(const Args& args) {
    ParsedCommandLine line(args);
    EmbedderSettings settings;
    return CommandLineError([&] { embedder_tool::readEmbedderSettings(line.store, settings); });
}

EmbedderSettings Read(const Args& args) {
    ParsedCommandLine line(args);
    EmbedderSettings settings;
    EXPECT_EQ(CommandLineError([&] { embedder_tool::readEmbedderSettings(line.store, settings); }),
              "");
    return settings;
}

const Args kRawOptions = {"--stdin-sampling-rate=48000", "--stdin-nb-channels=2",
                          "--stdin-bits-per-sample=24", "--stdin-endianness=be"};

// "stdin" to "out.wav" with the raw-input options, each replaced by its entry in `changes`
// when there is one (an empty change drops the option).
Args StdinArgs(const std::vector<std::pair<size_t, std::string>>& changes = {}) {
    Args options = kRawOptions;
    for (const auto& [index, replacement] : changes) options[index] = replacement;
    Args args = {"stdin", "out.wav"};
    for (const std::string& option : options) {
        if (!option.empty()) args.push_back(option);
    }
    return args;
}

}  // namespace

TEST(EmbedderSettingsTest, HelpWinsOverEveryError) {
    const std::vector<Args> lines = {
        {"-h"},
        {"--bogus", "-h"},
        {"a", "b", "c", "-h=no"},
        {"in.wav", "out.wav", "--record", "--record=x", "-h", "-h"},
        {"stdin", "out.wav", "--prio=x", "--affinity=z", "-h"},
        {"stdin", "out.wav", "--stdin-nb-channels=9", "   -h   "},
    };
    for (const Args& args : lines) {
        ParsedCommandLine line(args, "/opt/bin/pellion-embed");
        EmbedderSettings settings;
        EXPECT_EQ(
            CommandLineError([&] { embedder_tool::readEmbedderSettings(line.store, settings); }),
            "");
        EXPECT_EQ(settings.inputFile, "");
        EXPECT_FALSE(settings.silent);
        EXPECT_EQ(settings.stdinFormat.nbChannels, 0u);
        EXPECT_TRUE(line.store.hasOption("-h"));
    }
}

TEST(EmbedderSettingsTest, PositionalArgumentsAndTheirCount) {
    EXPECT_EQ(ReadError({}), "Missing first argument (input file)");
    EXPECT_EQ(ReadError({"--silent", "in.wav"}), "Missing second argument (output file)");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "x"}), "Too much arguments (2 expected)");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", ""}), "Too much arguments (2 expected)");
    // Option errors come before the count, the count before unknown options.
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "x", "--prio=1"}), "Invalid thread policy/priority)");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "x", "--bogus"}), "Too much arguments (2 expected)");
    // Only a live chain goes on without its embedder.
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--on-embedder-failure=bypass"}),
              "Invalid parameter --on-embedder-failure. bypass needs stdin as input.");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--on-embedder-failure=skip"}),
              "Invalid parameter --on-embedder-failure. Must be stop or bypass.");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--rearm-interval=0"}),
              "Invalid parameter --rearm-interval. Must be a number of seconds.");

    const EmbedderSettings files = Read({"  in.wav ", "out.wav"});
    EXPECT_EQ(files.inputFile, "in.wav");
    EXPECT_EQ(files.outputFile, "out.wav");
    EXPECT_FALSE(files.inputIsStdin);
    EXPECT_FALSE(files.outputIsStdout);
    EXPECT_FALSE(files.silent);

    // Only the exact lower-case words select the standard streams.
    const EmbedderSettings upper = Read({"STDIN", "STDOUT"});
    EXPECT_FALSE(upper.inputIsStdin);
    EXPECT_FALSE(upper.outputIsStdout);
    EXPECT_FALSE(upper.silent);

    // Raw audio on standard output leaves no room for messages.
    const EmbedderSettings toStdout = Read({"in.wav", "stdout"});
    EXPECT_TRUE(toStdout.outputIsStdout);
    EXPECT_TRUE(toStdout.silent);
}

TEST(EmbedderSettingsTest, OptionsReadOnceAreRefusedTwice) {
    for (const char* option : {"--record=d", "--channelName=c", "--affinity=1", "--prio=1,2"}) {
        const std::string name = std::string(option).substr(0, std::string(option).find('='));
        EXPECT_EQ(ReadError({"in.wav", "out.wav", option, option}),
                  "Options " + name + " used several times");
    }
    Args numberTwice = StdinArgs();
    numberTwice.push_back("--stdin-bits-per-sample=24");
    EXPECT_EQ(ReadError(numberTwice), "Options --stdin-bits-per-sample used several times");
    Args twice = StdinArgs();
    twice.push_back("--stdin-endianness=le");
    EXPECT_EQ(ReadError(twice), "Options --stdin-endianness used several times");

    // A flag may be repeated, and its value is ignored.
    EXPECT_TRUE(Read({"in.wav", "out.wav", "--silent", "--silent=no"}).silent);
    // Taken with raw input too, where it changes nothing: raw input is never paced.
    EXPECT_TRUE(Read(Args{"stdin", "o", "--unpaced=no", kRawOptions[0], kRawOptions[1],
                          kRawOptions[2], kRawOptions[3]})
                    .unpaced);
}

TEST(EmbedderSettingsTest, OptionValues) {
    const EmbedderSettings settings =
        Read({"in.wav", "out.wav", "--record=/tmp/rec", "--channelName=a b=c", "--affinity=0x0F",
              "--prio=1, 10"});
    EXPECT_EQ(settings.recordDirectory, "/tmp/rec");
    EXPECT_EQ(settings.channelName, "a b=c");
    EXPECT_EQ(settings.affinityMask, 15u);
    EXPECT_EQ(settings.threadPriority->policy, 1);
    EXPECT_EQ(settings.threadPriority->priority, 10);

    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--record"}), "Invalid record directory");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", " --record= "}), "Invalid record directory");
    // The affinity is read before the priority.
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--prio=1", "--affinity=z"}),
              "Invalid parameter --affinity. Must be hexadecimal value.");

    // An empty channel name still counts as given.
    ParsedCommandLine line({"in.wav", "out.wav", "--channelName="});
    EmbedderSettings empty;
    embedder_tool::readEmbedderSettings(line.store, empty);
    EXPECT_EQ(empty.channelName, "");
    EXPECT_TRUE(line.store.hasOption("--channelName"));
}

TEST(EmbedderSettingsTest, RawInputFormat) {
    const EmbedderSettings settings = Read(StdinArgs());
    EXPECT_TRUE(settings.inputIsStdin);
    EXPECT_EQ(settings.stdinFormat.samplingRate, 48000u);
    EXPECT_EQ(settings.stdinFormat.nbChannels, 2u);
    EXPECT_EQ(settings.stdinFormat.bitsPerSample, 24u);
    EXPECT_EQ(settings.stdinEndianness, "be");

    // strtol's reading: a sign, blanks after the "=".
    EXPECT_EQ(Read(StdinArgs({{1, "--stdin-nb-channels=+1"}})).stdinFormat.nbChannels, 1u);
    EXPECT_EQ(Read(StdinArgs({{1, "--stdin-nb-channels= 2"}})).stdinFormat.nbChannels, 2u);
    EXPECT_EQ(Read(StdinArgs({{2, "--stdin-bits-per-sample=32"}, {3, "--stdin-endianness=le"}}))
                  .stdinFormat.bitsPerSample,
              32u);
}

TEST(EmbedderSettingsTest, RawInputOptionsPresenceThenConversionsThenRanges) {
    EXPECT_EQ(ReadError({"stdin", "out.wav"}),
              "Missing mandatory parameter --stdin-sampling-rate when input is stdin");
    // Missing options are reported in a fixed order, whatever the command-line order.
    EXPECT_EQ(ReadError({"stdin", "out.wav", "--stdin-endianness=x", "--stdin-sampling-rate=x"}),
              "Missing mandatory parameter --stdin-nb-channels when input is stdin");
    EXPECT_EQ(ReadError(StdinArgs({{2, ""}, {3, ""}})),
              "Missing mandatory parameter --stdin-bits-per-sample when input is stdin");
    EXPECT_EQ(ReadError(StdinArgs({{3, ""}})),
              "Missing mandatory parameter --stdin-endianness when input is stdin");

    // All conversions come before all ranges.
    EXPECT_EQ(
        ReadError(StdinArgs({{0, "--stdin-sampling-rate=44100"}, {1, "--stdin-nb-channels=two"}})),
        "Invalid parameter --stdin-nb-channels. Must be decimal value.");
    EXPECT_EQ(ReadError(StdinArgs({{0, "--stdin-sampling-rate=48k"}})),
              "Invalid parameter --stdin-sampling-rate. Must be decimal value.");
    EXPECT_EQ(ReadError(StdinArgs({{2, "--stdin-bits-per-sample=0x10"}})),
              "Invalid parameter --stdin-bits-per-sample. Must be decimal value.");

    const std::string badRate = "Invalid sampling rate. Only 48000 Hz is supported";
    const std::string badChannels =
        "Invalid channel count. Must be a number (1 for mono, 2 for stereo)";
    const std::string badBits = "Invalid bit per sample. Must be a number in (16, 24, 32)";
    const std::string badEndianness =
        "Invalid endianness. Must be 'le' (little endian) or 'be' (big endian)";
    EXPECT_EQ(
        ReadError(StdinArgs({{0, "--stdin-sampling-rate=44100"}, {1, "--stdin-nb-channels=5"}})),
        badRate);
    EXPECT_EQ(ReadError(StdinArgs({{0, "--stdin-sampling-rate"}})), badRate);
    EXPECT_EQ(ReadError(StdinArgs({{1, "--stdin-nb-channels=0"}})), badChannels);
    EXPECT_EQ(ReadError(StdinArgs({{1, "--stdin-nb-channels=-1"}})), badChannels);
    EXPECT_EQ(
        ReadError(StdinArgs({{1, "--stdin-nb-channels=3"}, {2, "--stdin-bits-per-sample=8"}})),
        badChannels);
    EXPECT_EQ(ReadError(StdinArgs({{2, "--stdin-bits-per-sample=20"}})), badBits);
    EXPECT_EQ(ReadError(StdinArgs({{2, "--stdin-bits-per-sample=-16"}})), badBits);
    for (const char* endianness :
         {"--stdin-endianness=LE", "--stdin-endianness=", "--stdin-endianness=little"}) {
        EXPECT_EQ(ReadError(StdinArgs({{3, endianness}})), badEndianness) << endianness;
    }
}

TEST(EmbedderSettingsTest, UnknownOptions) {
    // Raw-input options are only asked for when the input is "stdin".
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--stdin-sampling-rate=48000"}),
              "Unknown option --stdin-sampling-rate");
    EXPECT_EQ(ReadError({"STDIN", "out.wav", "--stdin-endianness=le"}),
              "Unknown option --stdin-endianness");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--Record=x"}), "Unknown option --Record");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--silent", "--one", "--two"}),
              "Unknown option --one");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "-"}), "Too much arguments (2 expected)");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--", "x"}), "Too much arguments (2 expected)");
    EXPECT_EQ(ReadError({"in.wav", "out.wav", "--"}), "Unknown option --");
}

// What would work, said before the result line, whose text stays as the tests above have it.
TEST(EmbedderSettingsTest, ErrorsHintWhatWouldWork) {
    const std::string detached = "options take their value after '=': write ";
    const std::string raw = "raw PCM on standard input needs all four --stdin- options; missing: ";
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"i", "o", "--chanelName=X"},
         "unknown option '--chanelName'; did you mean `--channelName`?"},
        {{"i", "o", "--SILENT"}, "unknown option '--SILENT'; did you mean `--silent`?"},
        {{"i", "o", "--unpaecd"}, "unknown option '--unpaecd'; did you mean `--unpaced`?"},
        // Too far from every option to be a slip of one.
        {{"i", "o", "--channel=X"}, ""},
        {{"i", "o", "--channelName", "STANDIN-B"}, detached + "--channelName=STANDIN-B"},
        {{"--record", "/r", "i", "o"}, detached + "--record=/r"},
        {{"i", "--chanelName", "B", "o"}, detached + "--channelName=B"},
        {{"i", "o", "--silent", "x"}, ""},  // a flag takes no value
        {{"stdin", "o"},
         raw + "--stdin-sampling-rate=48000, --stdin-nb-channels=1|2, "
               "--stdin-bits-per-sample=16|24|32, --stdin-endianness=le|be"},
        {StdinArgs({{0, ""}, {2, ""}}),
         raw + "--stdin-sampling-rate=48000, --stdin-bits-per-sample=16|24|32"},
    };
    for (const auto& [args, hint] : cases) {
        ParsedCommandLine line(args);
        EmbedderSettings settings;
        EXPECT_EQ(
            CommandLineHint([&] { embedder_tool::readEmbedderSettings(line.store, settings); }),
            hint);
    }
}

TEST(EmbedderSettingsTest, UsageWithoutArgumentVectorNamesTheTool) {
    std::ostringstream out;
    embedder_tool::printUsage(0, nullptr, out);
    EXPECT_EQ(out.str().substr(0, out.str().find('\n')),
              "usage: pellion-embed inputFile outputFile");
}
