// The fuzz targets' bodies. Each fuzz_*.cc file defines LLVMFuzzerTestOneInput around its
// body for libFuzzer; the test suite builds the same files with PELLION_FUZZ_REPLAY defined
// and replays the seed corpora and every kept finding through the bodies.
#pragma once

#include <cstddef>
#include <cstdint>

// Both return 0; a finding aborts (or is reported by a sanitizer).
int FuzzWavReader(const uint8_t* data, size_t size);
int FuzzCommandLine(const uint8_t* data, size_t size);
