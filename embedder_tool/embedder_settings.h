// Command line of pellion-embed: its settings record, the reader that fills and checks it,
// and the usage text.
#pragma once

#include <cstdint>
#include <ostream>
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
    // "--on-embedder-failure=bypass": a failing embedder does not end a live chain (raw input
    // only); it is set up again every `rearmSeconds` ("--rearm-interval").
    bool bypassOnFailure = false;
    double rearmSeconds = 10;
};

namespace embedder_tool {

// Fills `settings` from the parsed command line, or raises a command-line error. With "-h"
// or "--version" it leaves `settings` at its defaults: the run answers those.
void readEmbedderSettings(ArgumentStore& store, EmbedderSettings& settings);

// The usage text, written to `out` by the reporter that shows it.
void printUsage(int32_t argc, const char* const* argv, std::ostream& out);

// The output name that means raw PCM on standard output.
inline constexpr char kRawOutputName[] = "stdout";

}  // namespace embedder_tool
