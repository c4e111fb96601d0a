// Command line of pellion-embed-batch: its settings record, the reader that fills and checks
// it, and the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "argument_store.h"

struct BatchSettings {
    // Exactly one of the two says where the work comes from.
    std::optional<std::string> inputDirectory;
    std::optional<std::string> manifest;
    // Required with an input directory; with a manifest, where its relative outputs go.
    std::optional<std::string> outputDirectory;
    uint32_t jobs = 1;
    uint32_t shardIndex = 0;
    uint32_t shardCount = 1;
    std::optional<std::string> summaryPath;
    std::optional<std::string> channelName;
    std::optional<std::string> recordDirectory;
    bool paced = false;
};

namespace batch_tool {

// Fills the settings from the parsed command line, or raises a command-line error (43).
// `cores` is the default for --jobs. Not to be called once help or the version was asked.
BatchSettings readBatchSettings(ArgumentStore& store, uint32_t cores);

// The usage text, written to `out` by the reporter that shows it.
void printUsage(std::ostream& out);

}  // namespace batch_tool
