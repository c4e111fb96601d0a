// A WAV output that can no longer be written ends the feeding at the next block: a run does
// not go on embedding (and, paced, waiting) for the rest of its input with nowhere to put it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_online_support.h"

namespace {

TEST(E2eLostOutputTest, FeedingStopsAtTheBlockAfterTheOutputIsLost) {
    for (const bool online : {false, true}) {
        SCOPED_TRACE(online ? "pellion-embed-online" : "pellion-embed");
        OnlineJob job;
        const size_t blocks = 282;  // three seconds, fed at the pace of real time
        job.SetInput(2, 16, TestSamples(blocks * 512, 2, 16));
        std::vector<std::string> args = job.Args();
        if (!online) args.resize(2);
        // The output may not grow past 64 KiB (a third of a second); writes beyond fail
        // with EFBIG instead of raising SIGXFSZ.
        args.insert(args.begin(), {"-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"",
                                   online ? OnlineEmbedderToolPath() : EmbedderToolPath()});
        const ProcessResult result = RunProcess("/bin/bash", job.Options(args));
        EXPECT_EQ(result.exitStatus, 44) << result.out;
        EXPECT_EQ(LastConsoleLine(result.out),
                  "[ERROR] code 44 (An I/O error occurred). Unable to write output file");
        const std::vector<std::string> trace = job.Trace();
        EXPECT_TRUE(TraceHas(trace, online ? "FinalizeWithReport" : "Finalize"));
        EXPECT_LT(TraceLinesOf(trace, "AddAudioBuffer").size(), blocks / 2);
    }
}

}  // namespace
