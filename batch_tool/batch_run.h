// The batch as a function: every item delivered once, at most `jobs` pellion-embed processes
// at once, each file's end told to the report as it comes; after a stop signal no file is
// started, the running ones are stopped, and those that end stopped are left out of the
// report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch_report.h"
#include "work_list.h"

struct BatchOptions {
    std::string embedder;  // the pellion-embed to run
    std::optional<std::string> channelName;
    std::optional<std::string> recordDirectory;
    bool paced = false;
    uint32_t jobs = 1;
};

struct BatchEnd {
    size_t stopped = 0;     // files that a stop signal ended while they ran
    size_t notStarted = 0;  // files that a stop signal kept from starting
};

BatchEnd RunBatch(const std::vector<WorkItem>& items, const BatchOptions& options,
                  BatchReport& report);

// The arguments pellion-embed gets for `item`.
std::vector<std::string> EmbedderArguments(const WorkItem& item, const BatchOptions& options);
