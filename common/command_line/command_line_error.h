// Raising a command-line error: a CodeException with the command-line result code, and a
// hint of what would work as its cause; and the reading of a command line that reports it.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

[[noreturn]] void raiseCommandLineError(const std::string& message,
                                        const std::string& cause = std::string());

inline void checkCommandLine(bool condition, const std::string& message) {
    if (!condition) raiseCommandLineError(message);
}

// Reads a program's command line with `read`. When that fails (a command-line error, or
// memory that cannot be had), prints the cause, when there is one, as "program: cause" on
// standard error, as a run does, then the result line on `console()` (with the usage text
// after a command-line error), and returns the exit status; nothing when the run goes on.
std::optional<int> ReadCommandLine(const std::string& program, const std::function<void()>& read,
                                   const std::function<std::ostream&()>& console,
                                   const std::function<void(std::ostream&)>& printUsage);
