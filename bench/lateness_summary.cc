// Summarises the lateness files of many runs (written by the preload shim or bench-floor
// with their lateness option) as one population of blocks:
//
//   bench-lateness THRESHOLD_US FILE...
//
// prints one line: blocks=N late_p50_us=... late_p99_us=... late_p999_us=... late_max_us=...
// late_min_us=... late_over=N (blocks later than THRESHOLD_US), or fails when a file cannot
// be read.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lateness.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-lateness THRESHOLD_US FILE...\n");
        return 2;
    }
    const auto thresholdNs = static_cast<int64_t>(std::atof(argv[1]) * 1000);
    std::vector<int64_t> lateness;
    for (int i = 2; i < argc; ++i) {
        if (!bench::ReadLatenessFile(argv[i], lateness)) {
            std::fprintf(stderr, "bench-lateness: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    std::printf("%s\n", bench::FormatLateness(bench::Summarise(lateness, thresholdNs)).c_str());
    return 0;
}
