#include "process_runner.h"

#include <gtest/gtest.h>

TEST(ProcessRunnerTest, CollectsOutputStatusAndTimedInput) {
    ProcessOptions options;
    options.args = {"-c", "cat; echo done >&2; exit 3"};
    options.stdinChunks = {{std::chrono::milliseconds(0), "ab"},
                           {std::chrono::milliseconds(50), "cd"}};
    const ProcessResult result = RunProcess("/bin/sh", options);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.out, "abcd");
    EXPECT_EQ(result.err, "done\n");
    EXPECT_FALSE(result.timedOut);
}

TEST(ProcessRunnerTest, KillsAtTimeout) {
    ProcessOptions options;
    options.args = {"-c", "sleep 10"};
    options.timeout = std::chrono::milliseconds(200);
    const ProcessResult result = RunProcess("/bin/sh", options);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.signal, SIGKILL);
}
