#include "argument_store.h"

#include <algorithm>

#include "command_line_error.h"

namespace {

// Spelled out rather than taken from isspace() so that the result cannot depend on the
// locale or on the signedness of char.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string trimWhitespace(std::string_view text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

void ArgumentStore::parse(int32_t argumentCount, const char* const* argumentVector) {
    argc = argumentCount;
    argv = argumentVector;
    positionalArguments.clear();
    optionValues.clear();
    pendingOptionNames.clear();
    if (argv == nullptr) return;
    for (int32_t index = 1; index < argc; ++index) {
        // The vector ends at a null element whatever argc says.
        if (argv[index] == nullptr) break;
        std::string argument = trimWhitespace(argv[index]);
        // A lone "-" names a standard stream, as audio tools have it.
        if (argument.empty() || argument.front() != '-' || argument == "-") {
            positionalArguments.push_back(std::move(argument));
            continue;
        }
        std::string name = argument;
        std::string value;
        const size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        optionValues[name].push_back(std::move(value));
        pendingOptionNames.push_back(std::move(name));
    }
}

void ArgumentStore::markAsked(std::string_view name) {
    pendingOptionNames.erase(
        std::remove(pendingOptionNames.begin(), pendingOptionNames.end(), name),
        pendingOptionNames.end());
}

bool ArgumentStore::hasOption(std::string_view name) {
    markAsked(name);
    return optionValues.find(name) != optionValues.end();
}

std::optional<std::vector<std::string>> ArgumentStore::findOption(std::string_view name) {
    markAsked(name);
    const auto option = optionValues.find(name);
    if (option == optionValues.end()) return std::nullopt;
    return option->second;
}

bool ArgumentStore::getSingleValue(std::string_view name, std::string& value) {
    const std::optional<std::vector<std::string>> values = findOption(name);
    if (!values) return false;
    checkCommandLine(values->size() == 1, "Options " + std::string(name) + " used several times");
    value = values->front();
    return true;
}

std::optional<std::string> ArgumentStore::firstPendingOption() const {
    if (pendingOptionNames.empty()) return std::nullopt;
    return pendingOptionNames.front();
}

std::optional<std::vector<std::string>> ArgumentStore::peekOption(std::string_view name) const {
    const auto found = optionValues.find(name);
    if (found == optionValues.end()) return std::nullopt;
    return found->second;
}
