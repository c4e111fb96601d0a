#include "child_report.h"

#include <sys/wait.h>

namespace {

bool StartsWith(const std::string& line, const char* prefix) {
    return line.rfind(prefix, 0) == 0;
}

// The last line of `text` that `wanted` accepts.
template <typename Wanted>
std::optional<std::string> LastLine(const std::string& text, Wanted wanted) {
    std::optional<std::string> found;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == text.npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (wanted(line)) found = line;
        start = end + 1;
    }
    return found;
}

}  // namespace

ChildReport ReadChildReport(const std::string& out, const std::string& err, int waitStatus,
                            double cpuSeconds) {
    ChildReport report;
    report.cpuSeconds = cpuSeconds;
    if (WIFSIGNALED(waitStatus)) {
        report.signal = WTERMSIG(waitStatus);
        report.exitStatus = 128 + report.signal;
    } else {
        report.exitStatus = WEXITSTATUS(waitStatus);
    }
    const auto isResultLine = [](const std::string& line) {
        return StartsWith(line, "[SUCCESS]") || StartsWith(line, "[ERROR]") ||
               StartsWith(line, "[INTERRUPTED]");
    };
    // The result line goes to standard error when standard output carries audio.
    report.resultLine = LastLine(out, isResultLine);
    if (!report.resultLine) report.resultLine = LastLine(err, isResultLine);
    if (!report.resultLine && report.exitStatus == 0 && report.signal == 0) {
        report.resultLine = "[SUCCESS]";
    }
    report.cause =
        LastLine(err, [](const std::string& line) { return StartsWith(line, "pellion-embed: "); });
    return report;
}
