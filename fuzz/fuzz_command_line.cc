// Fuzz target: the command lines of both programs. The input is split on NUL bytes into the
// arguments after argv[0]; they go through the argument store and each tool's settings
// reader, as each program's main reads them (the online tool overwriting the passwords in its
// argument vector on the way). A command-line error is the expected way out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "argument_store.h"
#include "code_exception.h"
#include "embedder_settings.h"
#include "fuzz_targets.h"
#include "online_embedder_settings.h"
#include "password_scrubber.h"

namespace {

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

std::ostream& NullStream() {
    static NullBuffer buffer;
    static std::ostream stream(&buffer);
    return stream;
}

template <typename Read>
void ReadCommandLine(const std::vector<const char*>& argv, Read read) {
    ArgumentStore store;
    try {
        store.parse(static_cast<int32_t>(argv.size()), argv.data());
        read(store);
    } catch (const CorvidaUtils::CodeException&) {
    }
}

// The online tool's reading: parse, overwrite the passwords in the argument vector, read the
// settings. Returns the password read, or nothing after a command-line error.
std::optional<std::string> ReadOnlineCommandLine(std::vector<std::string> args, bool scrub) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    ArgumentStore store;
    try {
        store.parse(static_cast<int32_t>(argv.size()), argv.data());
        if (scrub) ScrubPasswordArguments(static_cast<int>(argv.size()), argv.data());
        OnlineEmbedderSettings settings;
        online_tool::readOnlineSettings(store, settings);
        online_tool::printUsage(store.getArgc(), store.getArgv(), NullStream());
        return settings.password;
    } catch (const CorvidaUtils::CodeException&) {
        return std::nullopt;
    }
}

}  // namespace

int FuzzCommandLine(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"pellion-embed", ""};
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }

    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    ReadCommandLine(argv, [](ArgumentStore& store) {
        EmbedderSettings settings;
        embedder_tool::readEmbedderSettings(store, settings);
        embedder_tool::printUsage(store.getArgc(), store.getArgv(), NullStream());
    });

    args[0] = "pellion-embed-online";
    // The store keeps its own copies: overwriting the passwords in the argument vector must
    // not change what is read.
    if (ReadOnlineCommandLine(args, true) != ReadOnlineCommandLine(args, false)) {
        std::fprintf(stderr, "fuzz_command_line: scrubbing the password changed the settings\n");
        std::abort();
    }
    return 0;
}

#ifndef PELLION_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzCommandLine(data, size);
}
#endif
