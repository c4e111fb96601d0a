// What one pellion-embed run told: its exit status, its result line and the cause line of a
// failure. The one place that reads the programs' console text, so that it can turn to a
// structured log when the programs write one.
#pragma once

#include <optional>
#include <string>

struct ChildReport {
    int exitStatus = 0;  // 128 + N for a process that signal N ended, as a shell says
    int signal = 0;      // the signal that ended it, or 0
    std::optional<std::string> resultLine;
    std::optional<std::string> cause;
    double cpuSeconds = 0;  // user and system time of the run
};

// From the run's standard output and error and its wait status. A run that succeeded in
// silent mode prints no result line: it is "[SUCCESS]". The cause is the last line of
// standard error that begins with "pellion-embed: ".
ChildReport ReadChildReport(const std::string& out, const std::string& err, int waitStatus,
                            double cpuSeconds);
