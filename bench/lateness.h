// Lateness of blocks against the instants they were due: a block released after its
// instant has a positive lateness, one released before it a negative one. Values are in
// nanoseconds; files of them hold one decimal value per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct LatenessSummary {
    size_t count = 0;
    // Nearest-rank percentiles: the smallest value that at least that share of blocks is at
    // or below.
    int64_t p50Ns = 0;
    int64_t p99Ns = 0;
    int64_t p999Ns = 0;
    int64_t maxNs = 0;
    int64_t minNs = 0;
    size_t overThreshold = 0;  // blocks later than the threshold given to Summarise
};

LatenessSummary Summarise(std::vector<int64_t> latenessNs, int64_t thresholdNs);

// "blocks=N late_p50_us=... late_p99_us=... late_p999_us=... late_max_us=... late_min_us=...
// late_over=N", microseconds with one decimal.
std::string FormatLateness(const LatenessSummary& summary);

// Appends the values to the file; false when it cannot be written.
bool AppendLatenessFile(const std::string& path, const std::vector<int64_t>& latenessNs);
// Adds the file's values to `latenessNs`; false when it cannot be read.
bool ReadLatenessFile(const std::string& path, std::vector<int64_t>& latenessNs);

// CLOCK_MONOTONIC in nanoseconds.
int64_t MonotonicNs();

}  // namespace bench
