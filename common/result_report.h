// The handler site shared by both tools' main: turning whatever a run throws into its
// result code and message, and printing the one result line of the run.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <ostream>
#include <string>

#include "code_exception.h"

namespace CorvidaUtils {

struct RunResult {
    int32_t code = 0;
    std::string message;
};

// Runs `body`. A CodeException gives its code and message; any other standard exception
// gives code 1 and its what(); anything else code 1 and "Unsupported exception".
template <typename Body>
void RunCatchingErrors(Body&& body, RunResult& result) {
    try {
        body();
    } catch (const CodeException& e) {
        result.code = e.code;
        result.message = e.message;
    } catch (const std::exception& e) {
        result.code = 1;
        result.message = e.what();
    } catch (...) {
        result.code = 1;
        result.message = "Unsupported exception";
    }
}

// Prints "[SUCCESS]" for code 0 when `printSuccess`, otherwise the error line and an empty
// line; for a command-line error (43) one more empty line and the usage text follow.
void PrintResultLine(std::ostream& out, const RunResult& result, bool printSuccess,
                     const std::function<void(std::ostream&)>& printUsage);

constexpr int32_t kCommandLineErrorCode = 43;

// The exit status for a run's result code: the code itself where an exit status can carry
// it (0 to 255). A code outside that range, which only a library result passed on
// unconverted can give, would be cut to its low byte by the system (256 would read as
// success), so it ends the run with 51, the undefined error.
int ExitStatusFor(int32_t code);

}  // namespace CorvidaUtils
