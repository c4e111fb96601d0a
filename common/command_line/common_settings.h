// The settings that both tools' records begin with, and the reading rules that both tools'
// command-line readers share.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "argument_store.h"

struct ThreadPriority {
    int32_t policy = 0;
    int32_t priority = 0;
};

// What the command line said; an option that was not given has no value.
struct CommonSettings {
    std::string inputFile;
    std::string outputFile;
    std::optional<uint32_t> affinityMask;
    std::optional<ThreadPriority> threadPriority;
    std::optional<std::string> recordDirectory;
    // "--log-format=json": standard error carries a log for machines.
    bool jsonLog = false;
};

// The name that the usage texts show: argv[0] after its last "/" or "\", or `fallback`
// when the process was started without any argument.
std::string programName(int32_t argc, const char* const* argv, std::string_view fallback);

// "-h" or "--help": the usage text is printed, and nothing else is done.
bool helpAsked(ArgumentStore& store);
// "--version": the version is printed, and nothing else is done.
bool versionAsked(ArgumentStore& store);

// The first and the second positional argument; each missing one is an error.
void readInputAndOutputFiles(ArgumentStore& store, CommonSettings& settings);
// "--record", which must not be empty when given.
void readRecordDirectory(ArgumentStore& store, CommonSettings& settings);
// "--log-format=text" (the default) or "--log-format=json".
void readLogFormat(ArgumentStore& store, CommonSettings& settings);
// "--log-format=json" stands on the command line, whether or not it has been read yet.
bool JsonLogAsked(const ArgumentStore& store);
// "--affinity", hexadecimal.
void readAffinity(ArgumentStore& store, CommonSettings& settings);
// "--prio=policy,priority".
void readPriority(ArgumentStore& store, CommonSettings& settings);
// Exactly two positional arguments.
void checkArgumentCount(const ArgumentStore& store);
// Rejects the first option that no reading step asked for, naming the option it is most
// likely a typo of; to be called last.
void checkUnknownOptions(const ArgumentStore& store);
// Runs the reading steps `read`. A command-line error that comes without a cause of its own
// gets the likeliest one the command line shows: an option whose value came as the next
// argument ("--record /tmp/r"), which the steps then see as an empty value and a third file.
void readWithHints(const ArgumentStore& store, const std::function<void()>& read);

// Number conversions of option values. Each reads `text` as the C library function does
// (leading blanks, a sign, an empty text giving 0) and returns false when the conversion
// stops before the end of the text.
bool convertDecimal(const std::string& text, long& result);               // strtol, base 10
bool convertHexadecimal(const std::string& text, unsigned long& result);  // strtoul, base 16
// Two int numbers separated by a comma, as sscanf reads "%d,%d": text after the second
// number is ignored. Unlike sscanf, a number out of the range of int is refused.
bool convertIntPair(const std::string& text, int32_t& first, int32_t& second);
