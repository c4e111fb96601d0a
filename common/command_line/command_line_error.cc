#include "command_line_error.h"

#include "code_exception.h"
#include "result_codes.h"
#include "result_report.h"

void raiseCommandLineError(const std::string& message) {
    CorvidaUtils::CodeException checker;
    checker.Raise(CorvidaUtils::kCommandLineError, message);
}

std::optional<int> ReadCommandLine(const std::function<void()>& read,
                                   const std::function<std::ostream&()>& console,
                                   const std::function<void(std::ostream&)>& printUsage) {
    CorvidaUtils::RunResult result;
    CorvidaUtils::RunCatchingErrors(read, result);
    if (result.code == CorvidaUtils::kSuccess) return std::nullopt;
    CorvidaUtils::PrintResultLine(console(), result, false, printUsage);
    return CorvidaUtils::ExitStatusFor(result.code);
}
