#include "command_line_error.h"

#include <iostream>

#include "code_exception.h"
#include "result_codes.h"
#include "result_report.h"

void raiseCommandLineError(const std::string& message, const std::string& cause) {
    CorvidaUtils::CodeException checker;
    checker.cause = cause;
    checker.Raise(CorvidaUtils::kCommandLineError, message);
}

std::optional<int> ReadCommandLine(const std::string& program, const std::function<void()>& read,
                                   const std::function<std::ostream&()>& console,
                                   const std::function<void(std::ostream&)>& printUsage) {
    CorvidaUtils::RunResult result;
    CorvidaUtils::RunCatchingErrors(read, result);
    if (result.code == CorvidaUtils::kSuccess) return std::nullopt;
    // The result line and the usage text stay as scripts parse them; the hint goes before
    // them, where the run puts the cause of any other failure.
    if (!result.cause.empty()) std::cerr << program << ": " << result.cause << std::endl;
    CorvidaUtils::PrintResultLine(console(), result, false, printUsage);
    return CorvidaUtils::ExitStatusFor(result.code);
}
