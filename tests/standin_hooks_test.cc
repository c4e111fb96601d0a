// The stand-in's two test hooks: fault rules (PELLION_STANDIN_FAULTS) and the call trace
// (PELLION_STANDIN_TRACE).
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "library_result_codes.h"
#include "standin_test_support.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

constexpr auto kWait = std::chrono::seconds(10);
using standin::code::kSettingsMissing;

struct ChannelListView {
    const char* const* names = nullptr;
    const int64_t* ids = nullptr;
    uint64_t count = 99;
};

ChannelListView ListChannels(const Embedder& embedder) {
    ChannelListView list;
    EXPECT_EQ(embedder->GetChannelNameList(&list.names, &list.ids, &list.count), 0);
    return list;
}

TEST(StandinHooksTest, FaultedCallsFailWithoutDoingTheirWork) {
    RecordingListener listener;
    {
        ScopedHooks hooks("CreatePellionAudioEmbedder=6");
        Embedder refused = Embedder::Local(&listener);
        EXPECT_EQ(refused.result(), 6);
        EXPECT_EQ(refused.get(), nullptr);
    }
    ScopedHooks hooks("SetBitsPerSample=9;GetVersion=1");
    Embedder embedder = Embedder::Local(&listener);
    ASSERT_EQ(embedder.result(), 0);
    EXPECT_EQ(embedder.SetFormat(16, 2), 9);
    Corvida::IEmbedderParameters* parameters = nullptr;
    ASSERT_EQ(embedder->GetEmbedderParameters(&parameters), 0);
    EXPECT_EQ(parameters->SetChannels(2), 0);
    EXPECT_EQ(embedder->Initialize(), kSettingsMissing) << "the bits were never set";
    EXPECT_EQ(Corvida::GetVersion(), nullptr) << "a faulted GetVersion hands back no text";
}

TEST(StandinHooksTest, NumberedFaultsHitOnlyThatCallCountedSinceCreate) {
    ScopedHooks hooks(
        "AddAudioBuffer@2=27;AddAudioBuffer@4=5;"
        "ResynchronizeTimecode=81;ResynchronizeTimecode@2=1");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);  // a second Create starts the counts again
        RecordingListener listener;
        Embedder embedder = Embedder::Local(&listener);
        ASSERT_EQ(embedder.Start(16, 1), 0);
        uint64_t stamps[5] = {0, 1, 2, 3, 4};
        const uint8_t block[2] = {};
        std::vector<int32_t> results;
        for (uint64_t& stamp : stamps) {
            results.push_back(embedder->AddAudioBuffer(block, 2, &stamp));
        }
        EXPECT_EQ(results, (std::vector<int32_t>{0, 27, 0, 5, 0}));
        EXPECT_EQ(embedder->ResynchronizeTimecode(), 81);
        EXPECT_EQ(embedder->ResynchronizeTimecode(), 1);
        EXPECT_EQ(embedder->ResynchronizeTimecode(), 81);
        ASSERT_EQ(embedder->Finalize(), 0);
        const auto blocks = listener.Blocks();
        ASSERT_EQ(blocks.size(), 3u) << "refused blocks are not delivered";
        EXPECT_EQ(blocks[0].timestamp, &stamps[0]);
        EXPECT_EQ(blocks[1].timestamp, &stamps[2]);
        EXPECT_EQ(blocks[2].timestamp, &stamps[4]);
    }
}

TEST(StandinHooksTest, FaultedFinalizeAndDestroyStillDeliverHeldAudioAtDestroy) {
    ScopedHooks hooks("Finalize=1;DestroyPellionAudioEmbedder=3");
    RecordingListener listener;
    Embedder embedder = Embedder::Local(&listener);
    ASSERT_EQ(embedder.Start(16, 1), 0);
    const uint8_t block[2] = {};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(embedder->AddAudioBuffer(block, 2, nullptr), 0);
    EXPECT_EQ(embedder->Finalize(), 1);
    ASSERT_TRUE(listener.WaitForBlocks(1, kWait));
    EXPECT_EQ(listener.BlockCount(), 1u) << "a faulted Finalize does not flush";
    EXPECT_EQ(embedder.Destroy(), 3);
    EXPECT_EQ(embedder.get(), nullptr);
    EXPECT_EQ(listener.BlockCount(), 3u);
}

TEST(StandinHooksTest, ChannelRuleReplacesTheList) {
    RecordingListener listener;
    {
        ScopedHooks hooks("channels=X:5|(null):-7|a:b:9");
        Embedder embedder = Embedder::Local(&listener);
        const ChannelListView list = ListChannels(embedder);
        ASSERT_EQ(list.count, 3u);
        EXPECT_STREQ(list.names[0], "X");
        EXPECT_EQ(list.names[1], nullptr);
        EXPECT_STREQ(list.names[2], "a:b");
        EXPECT_EQ(list.ids[0], 5);
        EXPECT_EQ(list.ids[1], -7);
        EXPECT_EQ(list.ids[2], 9);
        EXPECT_EQ(embedder->SetChannelName("STANDIN-A"), 80);
        EXPECT_EQ(embedder->SetChannelName("a:b"), 0);
    }
    {
        ScopedHooks hooks("channels=");
        Embedder embedder = Embedder::Local(&listener);
        const ChannelListView list = ListChannels(embedder);
        EXPECT_EQ(list.count, 0u);
        EXPECT_NE(list.names, nullptr);
        EXPECT_NE(list.ids, nullptr);
        uint64_t count = 99;
        EXPECT_EQ(embedder->GetChannelCount(&count), 0);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(embedder.Start(16, 2), 0) << "no channel is needed to run";
    }
    {
        ScopedHooks hooks("channels=null");
        Embedder embedder = Embedder::Local(&listener);
        const ChannelListView list = ListChannels(embedder);
        EXPECT_EQ(list.count, 0u);
        EXPECT_EQ(list.names, nullptr);
        EXPECT_EQ(list.ids, nullptr);
    }
}

TEST(StandinHooksTest, ReportRuleIsWhatAFailingFinalizeWithReportHandsBack) {
    struct Case {
        std::string rules;
        const char* expected;  // null: no report
    };
    for (const Case& test :
         {Case{R"(FinalizeWithReport=49;report={"late": true, "x=y"})", R"({"late": true, "x=y"})"},
          Case{"FinalizeWithReport=49;report=", ""},
          Case{"FinalizeWithReport=49;report=null", nullptr},
          Case{"FinalizeWithReport=49", nullptr}}) {
        SCOPED_TRACE(test.rules);
        ScopedHooks hooks(test.rules);
        RecordingListener listener;
        Embedder online = Embedder::Online(&listener);
        ASSERT_EQ(online.Start(16, 2), 0);
        const char* report = nullptr;
        EXPECT_EQ(online->FinalizeWithReport(&report), 49);
        if (test.expected == nullptr) {
            EXPECT_EQ(report, nullptr);
        } else {
            ASSERT_NE(report, nullptr);
            EXPECT_STREQ(report, test.expected);
        }
    }
}

TEST(StandinHooksTest, MessageRulesReachTheListenerDuringTheirCall) {
    ScopedHooks hooks(
        "message@Initialize=1:77:hot: very;message@Initialize=2:-3:(null);"
        "message@AddAudioBuffer=5:0:;Initialize@2=9;message@SetChannels=0:1:x");
    RecordingListener listener;
    Embedder embedder = Embedder::Local(&listener);
    ASSERT_EQ(embedder.Start(16, 2), 0);
    const auto atInitialize = listener.Messages();
    ASSERT_EQ(atInitialize.size(), 4u);
    EXPECT_EQ(atInitialize[0].text, "x");
    EXPECT_EQ(atInitialize[1].level, 1);
    EXPECT_EQ(atInitialize[1].code, 77);
    EXPECT_EQ(atInitialize[1].text, "hot: very");
    EXPECT_EQ(atInitialize[2].level, 2);
    EXPECT_EQ(atInitialize[2].code, -3);
    EXPECT_EQ(atInitialize[2].text, std::nullopt);
    EXPECT_EQ(atInitialize[3].text, "Stand-in embedder initialized");

    // A faulted call still sends its messages.
    EXPECT_EQ(embedder->Initialize(), 9);
    const uint8_t block[2] = {};
    ASSERT_EQ(embedder->AddAudioBuffer(block, 2, nullptr), 0);
    const auto all = listener.Messages();
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all[4].code, 77);
    EXPECT_EQ(all[6].level, 5);
    EXPECT_EQ(all[6].text, "");
}

TEST(StandinHooksTest, LatencyRuleSetsTheBlocksHeldBack) {
    const uint8_t block[2] = {};
    {
        ScopedHooks hooks("latency=0");
        RecordingListener listener;
        Embedder embedder = Embedder::Local(&listener);
        ASSERT_EQ(embedder.Start(16, 1), 0);
        ASSERT_EQ(embedder->AddAudioBuffer(block, 2, nullptr), 0);
        EXPECT_TRUE(listener.WaitForBlocks(1, kWait)) << "nothing is held back";
    }
    ScopedHooks hooks("latency=4");
    RecordingListener listener;
    Embedder embedder = Embedder::Local(&listener);
    ASSERT_EQ(embedder.Start(16, 1), 0);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(embedder->AddAudioBuffer(block, 2, nullptr), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(listener.BlockCount(), 0u);
    ASSERT_EQ(embedder->AddAudioBuffer(block, 2, nullptr), 0);
    EXPECT_TRUE(listener.WaitForBlocks(1, kWait));
    ASSERT_EQ(embedder->Finalize(), 0);
    EXPECT_EQ(listener.BlockCount(), 5u);
}

TEST(StandinHooksTest, UnreadableRulesAreSkippedWithOneLineEach) {
    ScopedHooks hooks(
        "Bogus=1; Initialize=x ;latency=-1;channels=A;message@Nope=1:2:x;"
        "message@Initialize=1;AddAudioBuffer@0=3;;SetChannels=4;NoEquals");
    RecordingListener listener;
    CaptureStderr();
    Embedder embedder = Embedder::Local(&listener);
    Embedder rereading = Embedder::Local(&listener);  // the same text is not told again
    const std::string err = GetCapturedStderr();
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = err.find("pellion stand-in: ignoring fault rule", at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 8u) << err;
    EXPECT_NE(err.find("\"Initialize=x\""), std::string::npos) << err;
    EXPECT_EQ(embedder.SetFormat(16, 2), 4) << "the readable rule still applies";
}

TEST(StandinHooksTest, TraceHasOneLinePerCallInCallOrder) {
    WorkDir dir;
    const auto trace = dir.path("trace.txt");
    const std::string record = dir.dir();
    ScopedHooks hooks("SetChannels@1=4", trace);
    RecordingListener listener;
    Embedder local = Embedder::Local(&listener);
    ASSERT_EQ(local.result(), 0);
    Corvida::GetVersion();
    local->SetThreadCPUAffinity(-2147483648LL);
    local->SetThreadPriority(1, 10);
    Corvida::IEmbedderParameters* parameters = nullptr;
    local->GetEmbedderParameters(&parameters);
    parameters->SetBitsPerSample(24);
    EXPECT_EQ(parameters->SetChannels(2), 4);
    parameters->SetChannels(2);
    const char* const* names = nullptr;
    const int64_t* ids = nullptr;
    uint64_t count = 0;
    local->GetChannelNameList(&names, &ids, &count);
    local->SetChannelName("STANDIN-B");
    local->SetChannelName(nullptr);
    local->SetChannelName("two\nlines");
    local->EnableRecord(record.c_str());
    ASSERT_EQ(local->Initialize(), 0);
    EXPECT_EQ(ReadLines(trace).size(), 14u) << "lines are on disk at once";
    local->ResynchronizeTimecode();
    const uint8_t block[16] = {};
    uint64_t stamp = 12345;
    local->AddAudioBuffer(block, 16, &stamp);
    local->AddAudioBuffer(block, 8, nullptr);
    local->GetChannelCount(&count);
    local->Finalize();
    local.Destroy();

    Embedder online = Embedder::Online(&listener);
    online->AddMetadata(R"({"title":"x"})");
    online->AddMetadata(nullptr);
    online->SendJobReport("{}");
    online->SendJobReport(nullptr);
    const char* report = nullptr;
    online->FinalizeWithReport(&report);
    online->SetJobReportDirectory(nullptr);
    online->GetJobReport(&report);
    online.Destroy();
    Corvida::IPellionAudioEmbedder* other = nullptr;
    Corvida::CreatePellionAudioEmbedder(&listener, &other, "reserved");
    Corvida::DestroyPellionAudioEmbedder(other);

    const std::vector<std::string> expected = {
        "CreatePellionAudioEmbedder null",
        "GetVersion",
        "SetThreadCPUAffinity -2147483648",
        "SetThreadPriority 1 10",
        "GetEmbedderParameters",
        "SetBitsPerSample 24",
        "SetChannels 2",
        "SetChannels 2",
        "GetChannelNameList",
        "SetChannelName STANDIN-B",
        "SetChannelName (null)",
        "SetChannelName two\\nlines",
        "EnableRecord " + record,
        "Initialize",
        "ResynchronizeTimecode",
        "AddAudioBuffer 16 12345",
        "AddAudioBuffer 8 null",
        "GetChannelCount",
        "Finalize",
        "DestroyPellionAudioEmbedder",
        "CreateOnlinePellionAudioEmbedder user secret 443 example.invalid",
        "AddMetadata 13",
        "AddMetadata (null)",
        "SendJobReport 2",
        "SendJobReport (null)",
        "FinalizeWithReport",
        "SetJobReportDirectory (null)",
        "GetJobReport",
        "DestroyPellionAudioEmbedder",
        "CreatePellionAudioEmbedder reserved",
        "DestroyPellionAudioEmbedder",
    };
    EXPECT_EQ(ReadLines(trace), expected);
}

TEST(StandinHooksTest, NothingIsTracedWithoutTheVariable) {
    WorkDir dir;
    const auto trace = dir.path("trace.txt");
    RecordingListener listener;
    {
        ScopedHooks hooks("", trace);
        Embedder embedder = Embedder::Local(&listener);
    }
    const std::size_t traced = ReadLines(trace).size();
    EXPECT_EQ(traced, 2u);
    ScopedHooks hooks("");
    Embedder embedder = Embedder::Local(&listener);
    embedder->Initialize();
    embedder.Destroy();
    EXPECT_EQ(ReadLines(trace).size(), traced);
}

}  // namespace
