// Command line of pellion-embed-online: its settings record, the reader that fills and
// checks it, and the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "argument_store.h"
#include "common_settings.h"

namespace online_tool {

// Host name of the online service when "--server" is not given.
constexpr char kDefaultServer[] = "embedder.pellion.example";
constexpr int32_t kDefaultPort = 443;

}  // namespace online_tool

struct OnlineEmbedderSettings : CommonSettings {
    std::string login;
    std::string password;
    // "--passwordFile": the password is read from this file instead, as the run starts.
    std::optional<std::string> passwordFile;
    std::string metadataPath;
    std::string server = online_tool::kDefaultServer;
    int32_t port = online_tool::kDefaultPort;
};

namespace online_tool {

// Fills `settings` from the parsed command line, or raises a command-line error. With "-h"
// or "--version" it leaves `settings` at its defaults: the run answers those.
void readOnlineSettings(ArgumentStore& store, OnlineEmbedderSettings& settings);

// The usage text, written to `out` by the reporter that shows it.
void printUsage(int32_t argc, const char* const* argv, std::ostream& out);

}  // namespace online_tool
