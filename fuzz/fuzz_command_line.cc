// Fuzz target: the command lines of both programs. The input is split on NUL bytes into the
// arguments after argv[0]; they go through the argument store and each tool's settings
// reader, as each program's main reads them. A command-line error is the expected way out.
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "argument_store.h"
#include "code_exception.h"
#include "embedder_settings.h"
#include "online_embedder_settings.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }

    std::vector<const char*> argv{"pellion-embed"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    ReadCommandLine(argv, [](ArgumentStore& store) {
        EmbedderSettings settings;
        embedder_tool::readEmbedderSettings(store, settings, NullStream());
        embedder_tool::printUsage(store.getArgc(), store.getArgv(), NullStream());
    });

    argv[0] = "pellion-embed-online";
    ReadCommandLine(argv, [](ArgumentStore& store) {
        OnlineEmbedderSettings settings;
        online_tool::readOnlineSettings(store, settings, NullStream());
        online_tool::printUsage(store.getArgc(), store.getArgv(), NullStream());
    });
    return 0;
}
