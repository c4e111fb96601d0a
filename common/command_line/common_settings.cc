#include "common_settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "code_exception.h"
#include "command_line_error.h"
#include "kept_texts.h"
#include "result_codes.h"

std::string programName(int32_t argc, const char* const* argv, std::string_view fallback) {
    if (argc < 1 || argv == nullptr || argv[0] == nullptr) return std::string(fallback);
    const std::string_view path = argv[0];
    const size_t separator = path.find_last_of("/\\");
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

void readInputAndOutputFiles(ArgumentStore& store, CommonSettings& settings) {
    checkCommandLine(store.positionalArgumentCount() >= 1, "Missing first argument (input file)");
    settings.inputFile = store.positionalArgument(0);
    checkCommandLine(store.positionalArgumentCount() >= 2, "Missing second argument (output file)");
    settings.outputFile = store.positionalArgument(1);
}

bool helpAsked(ArgumentStore& store) {
    // Both asked, so that neither is reported as unknown.
    const bool shortForm = store.hasOption("-h");
    return store.hasOption("--help") || shortForm;
}

bool versionAsked(ArgumentStore& store) {
    return store.hasOption("--version");
}

void readRecordDirectory(ArgumentStore& store, CommonSettings& settings) {
    std::string directory;
    if (!store.getSingleValue("--record", directory)) return;
    checkCommandLine(!directory.empty(), "Invalid record directory");
    settings.recordDirectory = directory;
}

void readLogFormat(ArgumentStore& store, CommonSettings& settings) {
    std::string value;
    if (!store.getSingleValue("--log-format", value)) return;
    checkCommandLine(value == "text" || value == "json",
                     "Invalid parameter --log-format. Must be text or json.");
    settings.jsonLog = value == "json";
}

bool JsonLogAsked(const ArgumentStore& store) {
    const std::optional<std::vector<std::string>> values = store.peekOption("--log-format");
    return values && values->size() == 1 && values->front() == "json";
}

void readAffinity(ArgumentStore& store, CommonSettings& settings) {
    std::string value;
    if (!store.getSingleValue("--affinity", value)) return;
    unsigned long mask = 0;
    checkCommandLine(convertHexadecimal(value, mask),
                     "Invalid parameter --affinity. Must be hexadecimal value.");
    settings.affinityMask = static_cast<uint32_t>(mask);
}

void readPriority(ArgumentStore& store, CommonSettings& settings) {
    std::string value;
    if (!store.getSingleValue("--prio", value)) return;
    ThreadPriority priority;
    checkCommandLine(convertIntPair(value, priority.policy, priority.priority),
                     kept_text::kInvalidPriority);
    settings.threadPriority = priority;
}

void checkArgumentCount(const ArgumentStore& store) {
    checkCommandLine(store.positionalArgumentCount() == 2, kept_text::kTooManyArguments);
}

void checkUnknownOptions(const ArgumentStore& store) {
    const std::optional<std::string> name = store.firstPendingOption();
    if (!name) return;
    const std::optional<std::string> meant = store.nearestAskedOption(*name);
    raiseCommandLineError(
        "Unknown option " + *name,
        meant ? "unknown option '" + *name + "'; did you mean `" + *meant + "`?" : std::string());
}

void readWithHints(const ArgumentStore& store, const std::function<void()>& read) {
    try {
        read();
    } catch (const CorvidaUtils::CodeException& e) {
        const std::optional<ArgumentStore::DetachedValue> detached = store.firstDetachedValue();
        const CorvidaUtils::Status& failed = e.status();
        if (failed.code() == CorvidaUtils::kCommandLineError && failed.cause().empty() &&
            detached) {
            CorvidaUtils::Raise(CorvidaUtils::Status(failed).WithCause(
                "options take their value after '=': write " + detached->name + "=" +
                detached->value));
        }
        throw;
    }
}

bool convertDecimal(const std::string& text, long& result) {
    char* end = nullptr;
    result = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

bool convertHexadecimal(const std::string& text, unsigned long& result) {
    char* end = nullptr;
    result = std::strtoul(text.c_str(), &end, 16);
    return *end == '\0';
}

namespace {

// One "%d" conversion: blanks, an optional sign and decimal digits, starting at `text`.
// Returns where the number ends, or null when there is no number or it does not fit.
const char* scanInt(const char* text, int32_t& value) {
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || number < INT_MIN || number > INT_MAX) return nullptr;
    value = static_cast<int32_t>(number);
    return end;
}

}  // namespace

bool convertIntPair(const std::string& text, int32_t& first, int32_t& second) {
    // Like sscanf, a value is stored as soon as it has been read, even if what follows
    // fails; the caller treats any failure as an error anyway.
    const char* position = scanInt(text.c_str(), first);
    if (position == nullptr || *position != ',') return false;
    return scanInt(position + 1, second) != nullptr;
}
