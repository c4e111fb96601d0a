// Builds argument stores from literal command lines and captures the command-line errors
// that reading them raises, and their hints.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "argument_store.h"
#include "code_exception.h"

// An argument vector that owns its strings, with the store parsed from it.
class ParsedCommandLine {
public:
    // `arguments` come after the program name.
    explicit ParsedCommandLine(std::vector<std::string> arguments,
                               std::string program = "pellion-embed")
        : strings_(std::move(arguments)) {
        strings_.insert(strings_.begin(), std::move(program));
        for (const std::string& s : strings_) pointers_.push_back(s.c_str());
        pointers_.push_back(nullptr);
        store.parse(static_cast<int32_t>(strings_.size()), pointers_.data());
    }
    ParsedCommandLine(const ParsedCommandLine&) = delete;
    ParsedCommandLine& operator=(const ParsedCommandLine&) = delete;

    ArgumentStore store;

private:
    std::vector<std::string> strings_;
    std::vector<const char*> pointers_;
};

// The message of the command-line error that `read` raises, or "" when it raises none.
template <typename Read>
std::string CommandLineError(Read&& read) {
    try {
        read();
    } catch (const CorvidaUtils::CodeException& e) {
        EXPECT_EQ(e.status().code(), CorvidaUtils::kCommandLineError) << e.status().context();
        return e.status().context();
    }
    return "";
}

// The hint (the cause) of the command-line error that `read` raises, or "".
template <typename Read>
std::string CommandLineHint(Read&& read) {
    try {
        read();
    } catch (const CorvidaUtils::CodeException& e) {
        return e.status().cause();
    }
    return "";
}
