// Delivery of a batch's output and the record that lets a later run skip it: each change
// that makes the delivered file no longer the one for the input as it is must make the next
// run embed it again.
#include "output_delivery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "code_exception.h"
#include "test_files.h"

namespace {

class OutputDeliveryTest : public ::testing::Test {
protected:
    // Delivers a fresh output as a finished pellion-embed run leaves it.
    void Deliver(const std::optional<std::string>& channel = std::nullopt) {
        PrepareOutput(item_);
        WriteWholeFile(TemporaryPathOf(item_.output), std::string("embedded"));
        DeliverOutput(item_, InputState(item_), channel);
    }
    std::vector<std::string> FilesOfOut() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(work_.path("out/day"))) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    WorkDir work_;
    WorkItem item_{work_.path("in.wav"), work_.path("out/day/take.wav"), "day/take.wav",
                   "day/take.wav"};
};

TEST_F(OutputDeliveryTest, ADeliveredOutputIsSkippedUntilItOrItsInputChanges) {
    WriteWholeFile(item_.input, std::string("input"));
    // A rewrite of the same size within the clock's tick would keep the time: set it apart.
    const auto rewriteInput = [&](const std::string& text) {
        WriteWholeFile(item_.input, text);
        const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) + 10, 0}};
        utimensat(AT_FDCWD, item_.input.c_str(), times, 0);
    };
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"input rewritten", [&] { rewriteInput("INPUT"); }},
        {"input grown", [&] { rewriteInput("input!"); }},
        {"output replaced by the same bytes and time",
         [&] {
             struct stat delivered {};
             stat(item_.output.c_str(), &delivered);
             WriteWholeFile(item_.output + ".new", std::string("embedded"));
             const timespec times[2] = {delivered.st_atim, delivered.st_mtim};
             utimensat(AT_FDCWD, (item_.output + ".new").c_str(), times, 0);
             rename((item_.output + ".new").c_str(), item_.output.c_str());
         }},
        {"output removed", [&] { unlink(item_.output.c_str()); }},
        {"record cut short", [&] { truncate(RecordPathOf(item_.output).c_str(), 20); }},
        {"record removed", [&] { unlink(RecordPathOf(item_.output).c_str()); }}};
    for (const auto& [change, apply] : changes) {
        Deliver();
        EXPECT_TRUE(AlreadyDelivered(item_, std::nullopt)) << change;
        EXPECT_EQ(FilesOfOut(), (std::vector<std::string>{".take.wav.pellion-done", "take.wav"}));
        apply();
        EXPECT_FALSE(AlreadyDelivered(item_, std::nullopt)) << change;
    }
    Deliver("STANDIN-B");
    EXPECT_TRUE(AlreadyDelivered(item_, "STANDIN-B"));
    EXPECT_FALSE(AlreadyDelivered(item_, std::nullopt)) << "another channel";
}

TEST_F(OutputDeliveryTest, AFailedDeliveryLeavesNoTemporaryFileNoRecordAndNoOutput) {
    WriteWholeFile(item_.input, std::string("input"));
    PrepareOutput(item_);
    WriteWholeFile(TemporaryPathOf(item_.output), std::string("left by a killed run"));
    PrepareOutput(item_);
    EXPECT_TRUE(FilesOfOut().empty()) << "a killed run's temporary file stays";
    // The final name is a directory: the rename fails.
    std::filesystem::create_directories(item_.output + "/x");
    WriteWholeFile(TemporaryPathOf(item_.output), std::string("embedded"));
    try {
        DeliverOutput(item_, InputState(item_), std::nullopt);
        ADD_FAILURE() << "delivered onto a directory";
    } catch (const CorvidaUtils::CodeException& e) {
        EXPECT_EQ(e.status().code(), 44);
        EXPECT_NE(e.status().cause().find("cannot rename"), std::string::npos)
            << e.status().cause();
    }
    EXPECT_EQ(FilesOfOut(), (std::vector<std::string>{"take.wav"}));
}

}  // namespace
