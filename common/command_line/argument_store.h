// The command line of a run split into positional arguments and options, with a record of
// the options that no query has asked for yet, so that unknown options can be rejected
// once every known one has been read, and of the names the queries asked for, which are the
// options the program knows.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// `text` without its leading and trailing whitespace, as isspace() sees it in the "C"
// locale; bytes of 0x80 and above are never whitespace.
std::string trimWhitespace(std::string_view text);

class ArgumentStore {
public:
    // Every element of `argv` after the first, trimmed: one that begins with "-" is an
    // option "name" or "name=value" (only the first "=" separates), anything else, and a
    // lone "-", is a positional argument. `argv` is borrowed and must outlive the store.
    void parse(int32_t argc, const char* const* argv);

    // The queries below mark the option as asked for.
    bool hasOption(std::string_view name);
    // One value per occurrence, in command-line order; none when the option is absent.
    std::optional<std::vector<std::string>> findOption(std::string_view name);
    // False, with `value` unchanged, when the option is absent. A command-line error when
    // the option was given more than once.
    bool getSingleValue(std::string_view name, std::string& value);

    // The values of an option, without marking it as asked for: for what must be known before
    // the command line is read (where its errors go).
    std::optional<std::vector<std::string>> peekOption(std::string_view name) const;

    size_t positionalArgumentCount() const { return positionalArguments.size(); }
    const std::string& positionalArgument(size_t index) const {
        return positionalArguments.at(index);
    }

    // The first option occurrence, in command-line order, that no query has asked for.
    std::optional<std::string> firstPendingOption() const;
    // The name asked for that `name` is most plausibly a typo of (nothing when none is close
    // enough); the first asked wins a tie.
    std::optional<std::string> nearestAskedOption(std::string_view name) const;

    // An option given without "=" and followed by a positional argument, which was meant as
    // its value.
    struct DetachedValue {
        std::string name;
        std::string value;
    };
    // The first such option, in command-line order, that a query asked a value of, under the
    // name asked for when it was given mistyped.
    std::optional<DetachedValue> firstDetachedValue() const;

    int32_t getArgc() const { return argc; }
    const char* const* getArgv() const { return argv; }

private:
    void markAsked(std::string_view name, bool forValue);

    int32_t argc = 0;
    const char* const* argv = nullptr;
    std::vector<std::string> positionalArguments;
    // std::less<> so that lookups by string_view need no temporary string.
    std::map<std::string, std::vector<std::string>, std::less<>> optionValues;
    std::vector<std::string> pendingOptionNames;
    // In the order first asked; the names read as options with a value are also in
    // `valueNames`.
    std::vector<std::string> askedNames;
    std::vector<std::string> valueNames;
    std::vector<DetachedValue> detachedValues;
};
