#include "online_embedder_settings.h"

#include "command_line_error.h"

namespace online_tool {
namespace {

void readMandatory(ArgumentStore& store, const char* option, std::string& field,
                   const char* missingMessage) {
    checkCommandLine(store.getSingleValue(option, field), missingMessage);
}

// "--password", or "--passwordFile" in its place; never both.
void readPassword(ArgumentStore& store, OnlineEmbedderSettings& settings) {
    std::string file;
    if (!store.getSingleValue("--passwordFile", file)) {
        readMandatory(store, "--password", settings.password, "Invalid password");
        return;
    }
    checkCommandLine(!store.hasOption("--password"),
                     "Options --password and --passwordFile cannot be used together");
    checkCommandLine(!file.empty(), "Invalid password file");
    settings.passwordFile = file;
}

void readPort(ArgumentStore& store, OnlineEmbedderSettings& settings) {
    std::string value;
    if (!store.getSingleValue("--port", value)) return;
    long number = 0;
    checkCommandLine(convertDecimal(value, number),
                     "Invalid parameter --port. Must be decimal value.");
    // Only the low 32 bits are kept; the range is left to the service.
    settings.port = static_cast<int32_t>(static_cast<uint32_t>(number));
}

}  // namespace

void readOnlineSettings(ArgumentStore& store, OnlineEmbedderSettings& settings) {
    if (helpAsked(store) || versionAsked(store)) return;
    readWithHints(store, [&] {
        readInputAndOutputFiles(store, settings);
        readMandatory(store, "--login", settings.login, "Invalid login");
        readPassword(store, settings);
        readRecordDirectory(store, settings);
        readMandatory(store, "--metadataPath", settings.metadataPath,
                      "Invalid option metadataPath");
        store.getSingleValue("--server", settings.server);
        readPort(store, settings);
        readAffinity(store, settings);
        readPriority(store, settings);
        readLogFormat(store, settings);
        checkArgumentCount(store);
        checkUnknownOptions(store);
    });
}

void printUsage(int32_t argc, const char* const* argv, std::ostream& out) {
    out << "Usage: " << programName(argc, argv, "pellion-embed-online") << " inputFile outputFile"
        << std::endl;
    // clang-format off
    out << " With:" << std::endl;
    out << " inputFile                              : .wav input filename" << std::endl;
    out << " outputFile                             : .wav output filename" << std::endl;
    out << " {--login=user_login}                   : Login for OnlinePellionEmbedderSDK (mandatory)" << std::endl;
    out << " {--password=user_password}             : Password for OnlinePellionEmbedderSDK (mandatory)" << std::endl;
    out << " {--metadataPath=file_path}             : Json metadata file path (mandatory)" << std::endl;
    out << "Options:" << std::endl;
    out << " {--record=directory_path}              : Path where record wav files are stored (optional)" << std::endl;
    out << " {--server=hostname}                    : Host name of the online service (optional)" << std::endl;
    out << " {--port=number}                        : Port of the online service (optional)" << std::endl;
    out << std::endl;
    out << " {--affinity=affinity_mask}             : CPU affinity mask (optional)" << std::endl;
    out << " {--prio=thread_policy,thread_priority} : Thread priority to use for the given policy (optional)" << std::endl;
    // clang-format on
    out << std::endl;
}

}  // namespace online_tool
