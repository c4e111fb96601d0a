// Raising a command-line error: a CodeException with the command-line result code, and a
// hint of what would work as its cause, which the program reports together with its usage
// text.
#pragma once

#include <string>

[[noreturn]] void raiseCommandLineError(const std::string& message,
                                        const std::string& cause = std::string());

inline void checkCommandLine(bool condition, const std::string& message) {
    if (!condition) raiseCommandLineError(message);
}
