#include "embedder_settings.h"

#include <cstdlib>

#include "command_line_error.h"

namespace embedder_tool {
namespace {

constexpr char kStdinName[] = "stdin";

constexpr char kSamplingRateOption[] = "--stdin-sampling-rate";
constexpr char kNbChannelsOption[] = "--stdin-nb-channels";
constexpr char kBitsPerSampleOption[] = "--stdin-bits-per-sample";
constexpr char kEndiannessOption[] = "--stdin-endianness";

void readRawNumber(ArgumentStore& store, const std::string& option, uint64_t& field) {
    std::string value;
    store.getSingleValue(option, value);
    long number = 0;
    checkCommandLine(convertDecimal(value, number),
                     "Invalid parameter " + option + ". Must be decimal value.");
    // A negative number wraps to a huge value, which the range check then refuses.
    field = static_cast<uint64_t>(number);
}

// Every raw-input option must be present; all are converted before any range is checked. The
// result line names the first one missing, as it always has; the hint names them all, so that
// one correction is enough.
void readStdinFormat(ArgumentStore& store, EmbedderSettings& settings) {
    std::string firstMissing;
    std::string missingForms;
    for (const auto& [option, values] : {std::pair{kSamplingRateOption, "48000"},
                                         {kNbChannelsOption, "1|2"},
                                         {kBitsPerSampleOption, "16|24|32"},
                                         {kEndiannessOption, "le|be"}}) {
        if (store.hasOption(option)) continue;
        if (firstMissing.empty()) firstMissing = option;
        missingForms += (missingForms.empty() ? "" : ", ") + std::string(option) + "=" + values;
    }
    if (!firstMissing.empty()) {
        raiseCommandLineError(
            "Missing mandatory parameter " + firstMissing + " when input is stdin",
            "raw PCM on standard input needs all four --stdin- options; missing: " + missingForms);
    }

    WavPcmFormat& format = settings.stdinFormat;
    readRawNumber(store, kSamplingRateOption, format.samplingRate);
    readRawNumber(store, kNbChannelsOption, format.nbChannels);
    readRawNumber(store, kBitsPerSampleOption, format.bitsPerSample);
    store.getSingleValue(kEndiannessOption, settings.stdinEndianness);

    checkCommandLine(format.samplingRate == 48000,
                     "Invalid sampling rate. Only 48000 Hz is supported");
    checkCommandLine(format.nbChannels == 1 || format.nbChannels == 2,
                     "Invalid channel count. Must be a number (1 for mono, 2 for stereo)");
    checkCommandLine(
        format.bitsPerSample == 16 || format.bitsPerSample == 24 || format.bitsPerSample == 32,
        "Invalid bit per sample. Must be a number in (16, 24, 32)");
    checkCommandLine(settings.stdinEndianness == "le" || settings.stdinEndianness == "be",
                     "Invalid endianness. Must be 'le' (little endian) or 'be' (big endian)");
}

// "--on-embedder-failure=stop|bypass" and "--rearm-interval=SECONDS". Only a live chain can go
// on without its embedder: a file is better embedded again whole.
void readEmbedderFailure(ArgumentStore& store, EmbedderSettings& settings) {
    std::string action;
    if (store.getSingleValue("--on-embedder-failure", action)) {
        checkCommandLine(action == "stop" || action == "bypass",
                         "Invalid parameter --on-embedder-failure. Must be stop or bypass.");
        settings.bypassOnFailure = action == "bypass";
    }
    std::string interval;
    if (store.getSingleValue("--rearm-interval", interval)) {
        char* end = nullptr;
        const double seconds = std::strtod(interval.c_str(), &end);
        checkCommandLine(!interval.empty() && *end == '\0' && seconds > 0 && seconds <= 86400,
                         "Invalid parameter --rearm-interval. Must be a number of seconds.");
        settings.rearmSeconds = seconds;
    }
    checkCommandLine(!settings.bypassOnFailure || settings.inputIsStdin,
                     "Invalid parameter --on-embedder-failure. bypass needs stdin as input.");
}

}  // namespace

void readEmbedderSettings(ArgumentStore& store, EmbedderSettings& settings) {
    if (helpAsked(store) || versionAsked(store)) return;
    readWithHints(store, [&] {
        readInputAndOutputFiles(store, settings);
        readRecordDirectory(store, settings);
        std::string channel;
        if (store.getSingleValue("--channelName", channel)) settings.channelName = channel;
        if (store.hasOption("--silent")) settings.silent = true;
        if (store.hasOption("--unpaced")) settings.unpaced = true;
        readAffinity(store, settings);
        readPriority(store, settings);
        readLogFormat(store, settings);

        settings.inputIsStdin = settings.inputFile == kStdinName;
        settings.outputIsStdout = settings.outputFile == kRawOutputName;
        // Standard output carries the audio, so no message may go there.
        if (settings.outputIsStdout) settings.silent = true;
        // The raw-input options are asked for only here, so that with a file as input they
        // are reported as unknown.
        if (settings.inputIsStdin) readStdinFormat(store, settings);
        readEmbedderFailure(store, settings);

        checkArgumentCount(store);
        checkUnknownOptions(store);
    });
}

void printUsage(int32_t argc, const char* const* argv, std::ostream& out) {
    out << "usage: " << programName(argc, argv, "pellion-embed") << " inputFile outputFile"
        << std::endl;
    out << "with" << std::endl;
    // clang-format off
    out << "  inputFile                              : .wav input filename. Set 'stdin' value to read audio data from standard input (raw pcm)." << std::endl;
    out << "  outputFile                             : .wav output filename. Set 'stdout' value to write audio data to standard output (raw pcm)." << std::endl;
    out << "  {--channelName=channel_name}           : Name of the channel whose identifier is embedded (optional)." << std::endl;
    out << "  {--affinity=affinity_mask}             : CPU affinity mask (optional)." << std::endl;
    out << "  {--prio=thread_policy,thread_priority} : Thread priority to use for the given policy (optional)." << std::endl;
    out << "  {--record=directory_path}              : Path where record wav files are stored (optional)." << std::endl;
    out << "  {--silent}                             : Silent mode. No message on stdout (optional)." << std::endl;
    out << "  {--unpaced}                            : Feed a .wav input as fast as the embedder takes it, not at its real-time pace; the time code then counts at the audio's own pace from the start of the run. For files, not live play-out (optional)." << std::endl;
    out << "if inputFile value is 'stdin':" << std::endl;
    out << "  --stdin-sampling-rate=value            : input sample rate (Hz). Ex: 48000." << std::endl;
    out << "  --stdin-nb-channels=value              : input channels count. Ex 2 for stereo, 1 for mono." << std::endl;
    out << "  --stdin-bits-per-sample=value          : input bit per sample. Ex: 16 or 24." << std::endl;
    out << "  --stdin-endianness=value               : input endianness. values: le (little endian) or be (big endian)" << std::endl;
    // clang-format on
    out << std::endl;
}

}  // namespace embedder_tool
