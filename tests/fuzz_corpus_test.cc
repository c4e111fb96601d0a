// Replays the fuzz targets' seed corpora and every finding kept in fuzz/regressions/ through
// the targets' bodies, so that the normal and the sanitized test runs check them all again.
// A finding aborts the test process or fails it through a sanitizer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

struct FuzzTarget {
    const char* name;
    int (*body)(const uint8_t* data, size_t size);
};

std::vector<std::filesystem::path> InputsOf(const std::string& target) {
    std::vector<std::filesystem::path> inputs;
    for (const char* folder : {"corpus", "regressions"}) {
        const std::filesystem::path dir =
            std::filesystem::path(PELLION_SOURCE_DIR) / "fuzz" / folder / target;
        if (!std::filesystem::is_directory(dir)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        }
    }
    return inputs;
}

class FuzzCorpusTest : public testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzCorpusTest, EveryKeptInputPasses) {
    const std::vector<std::filesystem::path> inputs = InputsOf(GetParam().name);
    EXPECT_GE(inputs.size(), 10u) << "the seed corpus is missing";
    for (const std::filesystem::path& input : inputs) {
        SCOPED_TRACE(input.string());
        std::ifstream file(input, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
        // A body checks its own invariants and aborts on a broken one; its result says nothing.
        static_cast<void>(GetParam().body(bytes.data(), bytes.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpusTest,
                         testing::Values(FuzzTarget{"wav_reader", &FuzzWavReader},
                                         FuzzTarget{"command_line", &FuzzCommandLine}),
                         [](const testing::TestParamInfo<FuzzTarget>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
