// How one file of a batch ended, as the summary and the console tell it.
#pragma once

#include <optional>
#include <string>

#include "work_list.h"

enum class Outcome { kEmbedded, kSkipped, kFailed };

struct FileResult {
    WorkItem item;
    Outcome outcome = Outcome::kFailed;
    // The child's exit status; for a failure of the batch's own part of the file (its
    // directory, its delivery), that failure's result code. None for a skipped file.
    std::optional<int> exitStatus;
    std::optional<std::string> resultLine;
    std::optional<std::string> cause;
    std::optional<double> audioSeconds;
    double wallSeconds = 0;
    std::optional<double> cpuSeconds;  // the child's user and system time
};

const char* OutcomeName(Outcome outcome);
