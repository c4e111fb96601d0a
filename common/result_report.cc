#include "result_report.h"

#include <map>

namespace CorvidaUtils {

void PrintResultLine(std::ostream& out, const RunResult& result, bool printSuccess,
                     const std::function<void(std::ostream&)>& printUsage) {
    if (result.code == 0) {
        if (printSuccess) out << "[SUCCESS]" << std::endl;
        return;
    }
    std::map<int32_t, std::string> messages;
    buildResultMessages(messages);
    const auto row = messages.find(result.code);
    const std::string& text = row != messages.end() ? row->second : std::string("undocumented");
    out << "[ERROR] code " << result.code << " (" << text << "). " << result.message << std::endl
        << std::endl;
    if (result.code == kCommandLineErrorCode) {
        out << std::endl;
        if (printUsage) printUsage(out);
    }
    out.flush();
}

int ExitStatusFor(int32_t code) {
    constexpr int32_t kUndefinedErrorCode = 51;
    return code >= 0 && code <= 255 ? code : kUndefinedErrorCode;
}

}  // namespace CorvidaUtils
