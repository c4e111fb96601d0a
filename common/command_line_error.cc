#include "command_line_error.h"

#include "code_exception.h"
#include "result_report.h"

void raiseCommandLineError(const std::string& message) {
    CorvidaUtils::CodeException checker;
    checker.Check(false, CorvidaUtils::kCommandLineErrorCode, message);
    // Check(false, ...) always throws; this only tells the compiler so.
    throw checker;
}
