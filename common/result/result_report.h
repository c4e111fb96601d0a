// The handler site shared by both tools' main: turning whatever a run throws into its
// result code and message, and printing the one result line of the run.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "code_exception.h"
#include "result_codes.h"

namespace CorvidaUtils {

struct RunResult {
    RunResult() = default;
    RunResult(int32_t code, std::string message, std::string cause = std::string())
        : code(code), message(std::move(message)), cause(std::move(cause)) {}

    int32_t code = 0;
    std::string message;
    std::string cause;  // the object and the system's reason, when there is one
};

// Runs `body`. A CodeException gives its code and message; memory that could not be had
// gives code 5, as every failed allocation of a run does; any other standard exception gives
// code 1 and its what(); anything else code 1 and "Unsupported exception".
template <typename Body>
void RunCatchingErrors(Body&& body, RunResult& result) {
    try {
        body();
    } catch (const CodeException& e) {
        result.code = e.code;
        result.message = e.message;
        result.cause = e.cause;
    } catch (const std::bad_alloc& e) {
        result.code = kMemoryError;
        result.message = e.what();
    } catch (const std::exception& e) {
        result.code = kGenericError;
        result.message = e.what();
    } catch (...) {
        result.code = kGenericError;
        result.message = "Unsupported exception";
    }
}

// Prints "[SUCCESS]" for code 0 when `printSuccess`, otherwise the error line and an empty
// line; for a command-line error (43) one more empty line and the usage text follow.
void PrintResultLine(std::ostream& out, const RunResult& result, bool printSuccess,
                     const std::function<void(std::ostream&)>& printUsage);

// The result line of a run that a stop signal ended, in place of "[SUCCESS]": it names the
// signal and how much audio the output holds, so that no one takes a cut-off output for a
// finished one. `outputTookAll` is false when the output stopped taking audio before all that
// was fed reached it.
void PrintInterruptedLine(std::ostream& out, std::string_view signalName, bool beforeAudio,
                          uint64_t outputFrames, bool outputTookAll);

// 128 + the signal number, as a shell reports a process the signal ended.
int InterruptedExitStatus(int signalNumber);

// The process exit status for a result code: the code itself when an exit status can carry
// it, otherwise 51 (undefined error). Only a code passed on unconverted can be out of range;
// cut to its low byte it could read as success (256) or as another error.
int ExitStatusFor(int32_t code);

}  // namespace CorvidaUtils
