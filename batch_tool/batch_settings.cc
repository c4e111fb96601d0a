#include "batch_settings.h"

#include "command_line_error.h"
#include "common_settings.h"

namespace {

// A whole decimal number from `low` to `high`, nothing before or after it.
std::optional<uint32_t> ReadCount(const std::string& text, uint32_t low, uint32_t high) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos) {
        return std::nullopt;
    }
    const uint32_t value = static_cast<uint32_t>(std::stoul(text));
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<std::string> ReadPath(ArgumentStore& store, const char* name) {
    std::string value;
    if (!store.getSingleValue(name, value)) return std::nullopt;
    checkCommandLine(!value.empty(), std::string("Empty value of ") + name);
    return value;
}

}  // namespace

namespace batch_tool {

BatchSettings readBatchSettings(ArgumentStore& store, uint32_t cores) {
    BatchSettings settings;
    if (store.positionalArgumentCount() > 0) {
        raiseCommandLineError("Unexpected argument " + store.positionalArgument(0) +
                              " (the batch takes options only)");
    }
    settings.inputDirectory = ReadPath(store, "--input-dir");
    settings.manifest = ReadPath(store, "--manifest");
    checkCommandLine(settings.inputDirectory.has_value() != settings.manifest.has_value(),
                     "Give either --input-dir or --manifest");
    settings.outputDirectory = ReadPath(store, "--output-dir");
    checkCommandLine(settings.manifest || settings.outputDirectory,
                     "Missing --output-dir (where the outputs go)");

    settings.jobs = cores;
    std::string value;
    if (store.getSingleValue("--jobs", value)) {
        const std::optional<uint32_t> jobs = ReadCount(value, 1, 4096);
        checkCommandLine(jobs.has_value(), "Invalid parameter --jobs. Must be from 1 to 4096.");
        settings.jobs = *jobs;
    }
    if (store.getSingleValue("--shard", value)) {
        const size_t slash = value.find('/');
        const uint32_t count =
            slash == value.npos ? 0 : ReadCount(value.substr(slash + 1), 1, 1000000).value_or(0);
        const std::optional<uint32_t> index =
            count > 0 ? ReadCount(value.substr(0, slash), 0, count - 1) : std::nullopt;
        checkCommandLine(index.has_value(),
                         "Invalid parameter --shard. Must be I/N, I from 0 to N-1.");
        settings.shardIndex = *index;
        settings.shardCount = count;
    }
    settings.summaryPath = ReadPath(store, "--summary");
    std::string channel;
    if (store.getSingleValue("--channelName", channel)) settings.channelName = channel;
    settings.recordDirectory = ReadPath(store, "--record");
    settings.paced = store.hasOption("--paced");
    checkUnknownOptions(store);
    return settings;
}

void printUsage(std::ostream& out) {
    out << "usage: pellion-embed-batch --input-dir=IN --output-dir=OUT [options]\n"
           "       pellion-embed-batch --manifest=FILE [--output-dir=OUT] [options]\n"
           "\n"
           "Embeds every *.wav and *.WAV file under IN (recursively) into the same relative\n"
           "path under OUT, or each input<TAB>output pair of FILE, once each: a re-run skips\n"
           "what an earlier run delivered. Each file is embedded by a pellion-embed process.\n"
           "\n"
           "  -h, --help            this text\n"
           "  --version             the version\n"
           "  --input-dir=IN        the tree of WAV files to embed\n"
           "  --manifest=FILE       instead of --input-dir: one input<TAB>output pair a line\n"
           "  --output-dir=OUT      where the outputs go (with --manifest: relative outputs)\n"
           "  --jobs=N              files embedded at once (default: the cores available)\n"
           "  --shard=I/N           only the I-th of N shares of the files (I from 0)\n"
           "  --summary=PATH        one JSON object a file, a line each\n"
           "  --channelName=NAME    passed on to pellion-embed\n"
           "  --record=DIR          passed on to pellion-embed\n"
           "  --paced               feed each file at the pace of real time (default: unpaced)\n"
           "\n"
           "Exit status: 0 when every file was embedded or skipped, 60 when any failed, 43 for\n"
           "a command-line error, 44 when the batch itself cannot read or write what it needs,\n"
           "128 + the signal after a stop signal.\n";
}

}  // namespace batch_tool
