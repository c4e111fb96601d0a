#include "command_line_error.h"

#include "code_exception.h"
#include "result_codes.h"

void raiseCommandLineError(const std::string& message, const std::string& cause) {
    CorvidaUtils::Raise(CorvidaUtils::Status(CorvidaUtils::kCommandLineError, message, cause));
}
