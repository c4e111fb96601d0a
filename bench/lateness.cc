#include "lateness.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {

int64_t NearestRank(const std::vector<int64_t>& sorted, double share) {
    size_t rank = static_cast<size_t>(share * static_cast<double>(sorted.size()) + 0.999999);
    rank = std::min(std::max<size_t>(rank, 1), sorted.size());
    return sorted[rank - 1];
}

}  // namespace

LatenessSummary Summarise(std::vector<int64_t> latenessNs, int64_t thresholdNs) {
    LatenessSummary summary;
    summary.count = latenessNs.size();
    if (latenessNs.empty()) return summary;
    std::sort(latenessNs.begin(), latenessNs.end());
    summary.p50Ns = NearestRank(latenessNs, 0.5);
    summary.p99Ns = NearestRank(latenessNs, 0.99);
    summary.p999Ns = NearestRank(latenessNs, 0.999);
    summary.maxNs = latenessNs.back();
    summary.minNs = latenessNs.front();
    summary.overThreshold = static_cast<size_t>(
        latenessNs.end() - std::upper_bound(latenessNs.begin(), latenessNs.end(), thresholdNs));
    return summary;
}

std::string FormatLateness(const LatenessSummary& summary) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "blocks=%zu late_p50_us=%.1f late_p99_us=%.1f late_p999_us=%.1f "
                  "late_max_us=%.1f late_min_us=%.1f late_over=%zu",
                  summary.count, summary.p50Ns / 1e3, summary.p99Ns / 1e3, summary.p999Ns / 1e3,
                  summary.maxNs / 1e3, summary.minNs / 1e3, summary.overThreshold);
    return text;
}

bool AppendLatenessFile(const std::string& path, const std::vector<int64_t>& latenessNs) {
    std::FILE* const file = std::fopen(path.c_str(), "a");
    if (file == nullptr) return false;
    for (const int64_t value : latenessNs)
        std::fprintf(file, "%lld\n", static_cast<long long>(value));
    return std::fclose(file) == 0;
}

bool ReadLatenessFile(const std::string& path, std::vector<int64_t>& latenessNs) {
    std::FILE* const file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    long long value = 0;
    while (std::fscanf(file, "%lld", &value) == 1) latenessNs.push_back(value);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace bench
