// Command line of pellion-embed: its settings record, the reader that fills and checks it,
// and the usage text.
#pragma once

#include <cstdint>
#include <iostream>
#include <string>

#include "argument_store.h"
#include "common_settings.h"
#include "wav_pcm_format.h"

struct EmbedderSettings : CommonSettings {
    std::optional<std::string> channelName;
    WavPcmFormat stdinFormat;
    bool inputIsStdin = false;
    bool outputIsStdout = false;
    bool silent = false;
    // A WAV input is fed as fast as the embedder takes it; no meaning for raw input, which
    // always is.
    bool unpaced = false;
    std::string stdinEndianness;
};

namespace embedder_tool {

// Fills `settings` from the parsed command line, or raises a command-line error. With "-h"
// it only writes the usage text to `usageOut` and leaves `settings` at its defaults.
void readEmbedderSettings(ArgumentStore& store, EmbedderSettings& settings,
                          std::ostream& usageOut = std::cout);

void printUsage(int32_t argc, const char* const* argv, std::ostream& out = std::cout);

// The output name that means raw PCM on standard output.
inline constexpr char kRawOutputName[] = "stdout";

}  // namespace embedder_tool
