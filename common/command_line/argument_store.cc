#include "argument_store.h"

#include <algorithm>
#include <cctype>

#include "command_line_error.h"

namespace {

// Spelled out rather than taken from isspace() so that the result cannot depend on the
// locale or on the signedness of char.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A lone "-" names a standard stream, as audio tools have it.
bool isPositional(const std::string& argument) {
    return argument.empty() || argument.front() != '-' || argument == "-";
}

char folded(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Edits (insertion, deletion, substitution, or two neighbours swapped) that turn one name
// into the other, letter case aside: the common slips of typing a name.
size_t typingDistance(std::string_view a, std::string_view b) {
    // Three rows of the table: two back, one back, this one.
    std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const bool same = folded(a[i - 1]) == folded(b[j - 1]);
            current[j] =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && folded(a[i - 1]) == folded(b[j - 2]) &&
                folded(a[i - 2]) == folded(b[j - 1])) {
                current[j] = std::min(current[j], before[j - 2] + 1);
            }
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[b.size()];
}

// A third of the name's letters may be mistyped, at most three: "--prot" is "--port", but
// nothing is a slip of "-h", and "--channel" is not one of "--channelName".
size_t plausibleSlips(std::string_view knownName) {
    const size_t letters =
        knownName.size() - std::min(knownName.find_first_not_of('-'), knownName.size());
    return std::min<size_t>(letters / 3, 3);
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
    askedNames.clear();
    valueNames.clear();
    detachedValues.clear();
    if (argv == nullptr) return;
    for (int32_t index = 1; index < argc; ++index) {
        // The vector ends at a null element whatever argc says.
        if (argv[index] == nullptr) break;
        std::string argument = trimWhitespace(argv[index]);
        if (isPositional(argument)) {
            positionalArguments.push_back(std::move(argument));
            continue;
        }
        std::string name = argument;
        std::string value;
        const size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        } else if (index + 1 < argc && argv[index + 1] != nullptr) {
            std::string next = trimWhitespace(argv[index + 1]);
            if (!next.empty() && isPositional(next)) detachedValues.push_back({name, next});
        }
        optionValues[name].push_back(std::move(value));
        pendingOptionNames.push_back(std::move(name));
    }
}

void ArgumentStore::markAsked(std::string_view name, bool forValue) {
    if (std::find(askedNames.begin(), askedNames.end(), name) == askedNames.end()) {
        askedNames.emplace_back(name);
    }
    if (forValue && std::find(valueNames.begin(), valueNames.end(), name) == valueNames.end()) {
        valueNames.emplace_back(name);
    }
    pendingOptionNames.erase(
        std::remove(pendingOptionNames.begin(), pendingOptionNames.end(), name),
        pendingOptionNames.end());
}

bool ArgumentStore::hasOption(std::string_view name) {
    markAsked(name, false);
    return optionValues.find(name) != optionValues.end();
}

std::optional<std::vector<std::string>> ArgumentStore::findOption(std::string_view name) {
    markAsked(name, true);
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

std::optional<std::string> ArgumentStore::nearestAskedOption(std::string_view name) const {
    std::optional<std::string> nearest;
    size_t nearestDistance = 0;
    for (const std::string& known : askedNames) {
        const size_t slips = plausibleSlips(known);
        // Each letter more or less is an edit: a far longer name need not be compared.
        if (name.size() > known.size() + slips || known.size() > name.size() + slips) continue;
        const size_t distance = typingDistance(name, known);
        if (distance <= slips && (!nearest || distance < nearestDistance)) {
            nearest = known;
            nearestDistance = distance;
        }
    }
    return nearest;
}

std::optional<ArgumentStore::DetachedValue> ArgumentStore::firstDetachedValue() const {
    const auto readsValue = [this](const std::string& name) {
        return std::find(valueNames.begin(), valueNames.end(), name) != valueNames.end();
    };
    for (const DetachedValue& detached : detachedValues) {
        if (readsValue(detached.name)) return detached;
        // A mistyped name hides the value's place no less: "--chanelName STANDIN-B".
        const std::optional<std::string> meant = nearestAskedOption(detached.name);
        if (meant && readsValue(*meant)) return DetachedValue{*meant, detached.value};
    }
    return std::nullopt;
}
