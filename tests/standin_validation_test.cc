// The stand-in answers wrong calls with the library codes a real embedder would use, and
// keeps what it promises: recording, channel list, metadata, job report, thread settings.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "library_result_codes.h"
#include "standin_test_support.h"

namespace {

// The stand-in's own result codes, by name.
using namespace standin::code;

uint32_t Le32(const std::vector<uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint16_t Le16(const std::vector<uint8_t>& bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

class StandinValidationTest : public ::testing::Test {
protected:
    ScopedHooks noHooks_{""};
    RecordingListener listener_;
};

TEST_F(StandinValidationTest, CreateChecksItsArguments) {
    using Corvida::CreateOnlinePellionAudioEmbedder;
    using Corvida::CreatePellionAudioEmbedder;
    Corvida::IPellionAudioEmbedder* embedder = nullptr;
    EXPECT_EQ(CreatePellionAudioEmbedder(nullptr, &embedder, nullptr), kNullListener);
    EXPECT_EQ(CreatePellionAudioEmbedder(&listener_, nullptr, nullptr), kNullPointer);
    EXPECT_EQ(CreateOnlinePellionAudioEmbedder(nullptr, &embedder, "u", "p", 443, "h"),
              kNullListener);
    EXPECT_EQ(CreateOnlinePellionAudioEmbedder(&listener_, &embedder, nullptr, "p", 443, "h"),
              kNullPointer);
    EXPECT_EQ(CreateOnlinePellionAudioEmbedder(&listener_, &embedder, "u", nullptr, 443, "h"),
              kNullPointer);
    EXPECT_EQ(CreateOnlinePellionAudioEmbedder(&listener_, &embedder, "u", "p", 443, nullptr),
              kNullPointer);
    EXPECT_EQ(CreateOnlinePellionAudioEmbedder(&listener_, &embedder, "", "p", 443, "h"),
              kEmptyParameter);
    EXPECT_EQ(embedder, nullptr);

    // An empty password and host, and any port, are accepted: nothing is checked online.
    ASSERT_EQ(CreateOnlinePellionAudioEmbedder(&listener_, &embedder, "u", "", 0, ""), 0);
    ASSERT_NE(embedder, nullptr);
    EXPECT_EQ(Corvida::DestroyPellionAudioEmbedder(embedder), 0);
    EXPECT_EQ(embedder, nullptr);
    EXPECT_EQ(Corvida::DestroyPellionAudioEmbedder(embedder), kNullPointer);

    EXPECT_NE(std::strstr(Corvida::GetVersion(), "stand-in"), nullptr);
}

TEST_F(StandinValidationTest, FormatIsValidatedAndRequiredOnce) {
    Embedder embedder = Embedder::Local(&listener_);
    EXPECT_EQ(embedder->GetEmbedderParameters(nullptr), kNullPointer);
    Corvida::IEmbedderParameters* parameters = nullptr;
    ASSERT_EQ(embedder->GetEmbedderParameters(&parameters), 0);
    Corvida::IEmbedderParameters* again = nullptr;
    ASSERT_EQ(embedder->GetEmbedderParameters(&again), 0);
    EXPECT_EQ(again, parameters);

    for (const int32_t bits : {0, 8, 20, 33, -16}) {
        EXPECT_EQ(parameters->SetBitsPerSample(bits), kBitsPerSampleInvalid) << bits;
    }
    for (const int32_t channels : {0, -1}) {
        EXPECT_EQ(parameters->SetChannels(channels), kChannelsInvalid) << channels;
    }
    EXPECT_EQ(embedder->Initialize(), kSettingsMissing);
    for (const int32_t bits : {16, 32, 24}) EXPECT_EQ(parameters->SetBitsPerSample(bits), 0);
    EXPECT_EQ(embedder->Initialize(), kSettingsMissing);
    EXPECT_EQ(parameters->SetChannels(6), 0);
    EXPECT_EQ(embedder->Initialize(), 0);
    EXPECT_EQ(embedder->Initialize(), kAlreadyInitialized);

    // The job's settings are fixed once it runs.
    EXPECT_EQ(parameters->SetBitsPerSample(16), kAlreadyInitialized);
    EXPECT_EQ(parameters->SetChannels(2), kAlreadyInitialized);
    EXPECT_EQ(embedder->SetChannelName("STANDIN-B"), kAlreadyInitialized);
    WorkDir dir;
    EXPECT_EQ(embedder->EnableRecord(dir.dir().c_str()), kAlreadyInitialized);

    const auto messages = listener_.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].level, 0);
    EXPECT_EQ(messages[0].text, "Stand-in embedder initialized");
}

TEST_F(StandinValidationTest, AudioBuffersMustHoldWholeSamplesOfARunningJob) {
    const uint8_t data[8] = {};
    Embedder embedder = Embedder::Local(&listener_);
    EXPECT_EQ(embedder->AddAudioBuffer(data, 4, nullptr), kNotInitialized);
    EXPECT_EQ(embedder->Finalize(), kNotInitialized);
    ASSERT_EQ(embedder.Start(24, 1), 0);
    // 24-bit samples cross the interface as 32-bit words.
    EXPECT_EQ(embedder->AddAudioBuffer(data, 3, nullptr), kBufferSizeInvalid);
    EXPECT_EQ(embedder->AddAudioBuffer(data, 6, nullptr), kBufferSizeInvalid);
    EXPECT_EQ(embedder->AddAudioBuffer(nullptr, 4, nullptr), kNullPointer);
    EXPECT_EQ(embedder->AddAudioBuffer(data, 8, nullptr), 0);
    EXPECT_EQ(embedder->Finalize(), 0);
    EXPECT_EQ(embedder->AddAudioBuffer(data, 8, nullptr), kNotInitialized);
    EXPECT_EQ(embedder->Finalize(), kNotInitialized);
    EXPECT_EQ(embedder->Initialize(), kAlreadyInitialized);

    Embedder sixteen = Embedder::Local(&listener_);
    ASSERT_EQ(sixteen.Start(16, 2), 0);
    EXPECT_EQ(sixteen->AddAudioBuffer(data, 3, nullptr), kBufferSizeInvalid);
    EXPECT_EQ(sixteen->AddAudioBuffer(data, 2, nullptr), 0);
}

TEST_F(StandinValidationTest, ChannelListIsTheEmbeddersAndSelectionIsChecked) {
    Embedder embedder = Embedder::Local(&listener_);
    const char* const* names = nullptr;
    const int64_t* ids = nullptr;
    uint64_t count = 0;
    EXPECT_EQ(embedder->GetChannelNameList(nullptr, &ids, &count), kNullPointer);
    EXPECT_EQ(embedder->GetChannelNameList(&names, nullptr, &count), kNullPointer);
    EXPECT_EQ(embedder->GetChannelNameList(&names, &ids, nullptr), kNullPointer);
    ASSERT_EQ(embedder->GetChannelNameList(&names, &ids, &count), 0);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(names[0], "STANDIN-A");
    EXPECT_STREQ(names[1], "STANDIN-B");
    EXPECT_EQ(ids[0], 1001);
    EXPECT_EQ(ids[1], 1002);
    uint64_t counted = 0;
    EXPECT_EQ(embedder->GetChannelCount(nullptr), kNullPointer);
    EXPECT_EQ(embedder->GetChannelCount(&counted), 0);
    EXPECT_EQ(counted, 2u);

    EXPECT_EQ(embedder->SetChannelName("STANDIN-C"), kUnknownChannel);
    EXPECT_EQ(embedder->SetChannelName(""), kUnknownChannel);
    EXPECT_EQ(embedder->SetChannelName(nullptr), kNullPointer);
    EXPECT_EQ(embedder->SetChannelName("STANDIN-B"), 0);
}

TEST_F(StandinValidationTest, RecordDirectoryMustBeWritable) {
    WorkDir dir;
    const std::string file = dir.path("plain-file");
    std::ofstream(file) << "x";
    Embedder embedder = Embedder::Local(&listener_);
    EXPECT_EQ(embedder->EnableRecord(nullptr), kNullPointer);
    EXPECT_EQ(embedder->EnableRecord(""), kEmptyParameter);
    EXPECT_EQ(embedder->EnableRecord(dir.path("missing").c_str()), kIoError);
    EXPECT_EQ(embedder->EnableRecord(file.c_str()), kIoError);
    EXPECT_EQ(embedder->EnableRecord(dir.dir().c_str()), 0);
}

TEST_F(StandinValidationTest, RecordingHoldsTheMarkedAudioAsAWavFile) {
    for (const int32_t bits : {16, 24}) {
        SCOPED_TRACE(bits);
        WorkDir dir;
        RecordingListener listener;
        Embedder embedder = Embedder::Local(&listener);
        ASSERT_EQ(embedder.SetFormat(bits, 2), 0);
        ASSERT_EQ(embedder->EnableRecord(dir.dir().c_str()), 0);
        ASSERT_EQ(embedder->Initialize(), 0);
        std::vector<uint8_t> block(1536);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(embedder->AddAudioBuffer(block.data(), block.size(), nullptr), 0);
        }
        ASSERT_EQ(embedder->Finalize(), 0);

        std::vector<uint8_t> expected = listener.AllBytes();
        if (bits == 24) {  // the file packs each word's upper three bytes
            std::vector<uint8_t> packed;
            for (std::size_t i = 0; i < expected.size(); i += 4) {
                packed.insert(packed.end(), expected.begin() + i + 1, expected.begin() + i + 4);
            }
            expected = packed;
        }
        const auto wav = ReadWholeFile(dir.path("standin-record.wav"));
        ASSERT_EQ(wav.size(), 44 + expected.size());
        EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
        EXPECT_EQ(Le32(wav, 4), 36 + expected.size());
        EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(Le16(wav, 20), 1);
        EXPECT_EQ(Le16(wav, 22), 2);
        EXPECT_EQ(Le32(wav, 24), 48000u);
        EXPECT_EQ(Le16(wav, 32), 2 * bits / 8);
        EXPECT_EQ(Le16(wav, 34), bits);
        EXPECT_EQ(Le32(wav, 40), expected.size());
        EXPECT_EQ(std::vector<uint8_t>(wav.begin() + 44, wav.end()), expected);
    }
}

TEST_F(StandinValidationTest, OperationsOfTheOtherKindOfEmbedderAreRefused) {
    const char* report = nullptr;
    Embedder local = Embedder::Local(&listener_);
    EXPECT_EQ(local->AddMetadata("{}"), kNotAllowed);
    EXPECT_EQ(local->FinalizeWithReport(&report), kNotAllowed);
    EXPECT_EQ(local->SendJobReport("{}"), kNotAllowed);
    EXPECT_EQ(local->GetJobReport(&report), kNotAllowed);
    EXPECT_EQ(local->SetJobReportDirectory("/tmp"), kNotAllowed);
    EXPECT_EQ(local->ResynchronizeTimecode(), 0);

    Embedder online = Embedder::Online(&listener_);
    ASSERT_EQ(online.Start(16, 2), 0);
    EXPECT_EQ(online->Finalize(), kNotAllowed);
    EXPECT_EQ(online->ResynchronizeTimecode(), 0);
}

TEST_F(StandinValidationTest, OnlineMetadataIsMandatoryAndMustBeAJsonObject) {
    Embedder online = Embedder::Online(&listener_);
    ASSERT_EQ(online.SetFormat(16, 2), 0);
    EXPECT_EQ(online->Initialize(), kMetadataMandatory);
    EXPECT_EQ(online->AddMetadata(nullptr), kNullPointer);
    EXPECT_EQ(online->AddMetadata(""), kMetadataMandatory);
    for (const char* bad :
         {"{", "}", "[1]", "\"text\"", "{\"a\":}", "{\"a\" 1}", "{a:1}", "{\"a\":1,}", "{\"a\":01}",
          "{\"a\":1.}", "{\"a\":tru}", "{\"a\":\"\\x\"}", "{\"a\":\"\x01\"}", "{} {}", "   "}) {
        EXPECT_EQ(online->AddMetadata(bad), kMetadataParsing) << bad;
    }
    for (const char* good :
         {"{}", "\xEF\xBB\xBF{\"title\":\"caf\xC3\xA9\"}\n",
          " {\"n\":[-1.5e+3,0,true,false,null],\"o\":{\"s\":\"q\\\"\\u00e9\\n\"}}\r\n"}) {
        EXPECT_EQ(online->AddMetadata(good), 0) << good;
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(online->AddMetadata("{}"), 0);
    EXPECT_EQ(online->AddMetadata("{}"), kTooManyMetadata);
    EXPECT_EQ(online->Initialize(), 0);
    EXPECT_EQ(online->AddMetadata("{}"), kAlreadyInitialized);
}

TEST_F(StandinValidationTest, OnlineJobEndsWithAReportThatStaysValid) {
    WorkDir dir;
    Embedder online = Embedder::Online(&listener_);
    ASSERT_EQ(online.SetFormat(16, 2), 0);
    const std::string metadata = R"({"title":"x"})";
    ASSERT_EQ(online->AddMetadata(metadata.c_str()), 0);
    EXPECT_EQ(online->SetJobReportDirectory(dir.path("missing").c_str()), kIoError);
    ASSERT_EQ(online->SetJobReportDirectory(dir.dir().c_str()), 0);
    ASSERT_EQ(online->Initialize(), 0);
    const uint8_t block[400] = {};
    ASSERT_EQ(online->AddAudioBuffer(block, sizeof block, nullptr), 0);
    ASSERT_EQ(online->AddAudioBuffer(block, sizeof block, nullptr), 0);

    const char* early = nullptr;
    EXPECT_EQ(online->GetJobReport(&early), kError) << "no report before the job has ended";
    EXPECT_EQ(early, nullptr);
    EXPECT_EQ(online->FinalizeWithReport(nullptr), kNullPointer);
    const char* report = nullptr;
    ASSERT_EQ(online->FinalizeWithReport(&report), 0);
    ASSERT_NE(report, nullptr);
    const std::string expected =
        R"({"status":"ok","bytes":800,"channel":"STANDIN-A","channelId":1001,"metadataBytes":)" +
        std::to_string(metadata.size()) + "}";
    EXPECT_EQ(report, expected);
    EXPECT_EQ(ReadLines(dir.path("standin-job-report.json")), std::vector<std::string>{expected});

    const char* later = nullptr;
    ASSERT_EQ(online->GetJobReport(&later), 0);
    EXPECT_EQ(later, report);
    EXPECT_EQ(online->SendJobReport(report), 0);
    EXPECT_EQ(online->SendJobReport("not even json"), 0);
    EXPECT_EQ(online->SendJobReport(""), kJobReportMissing);
    EXPECT_EQ(online->SendJobReport(nullptr), kJobReportMissing);
    EXPECT_EQ(online->FinalizeWithReport(&later), kNotInitialized);
    EXPECT_EQ(report, expected) << "the report lives as long as the embedder";
}

TEST_F(StandinValidationTest, ThreadPriorityIsValidatedAndAppliedToTheWorker) {
    Embedder embedder = Embedder::Local(&listener_);
    EXPECT_EQ(embedder->SetThreadPriority(99, 0), kThreadPolicyInvalid);
    EXPECT_EQ(embedder->SetThreadPriority(-1, 0), kThreadPolicyInvalid);
    EXPECT_EQ(embedder->SetThreadPriority(SCHED_OTHER, 5), kThreadPriorityInvalid);
    EXPECT_EQ(embedder->SetThreadPriority(SCHED_FIFO, sched_get_priority_max(SCHED_FIFO) + 1),
              kThreadPriorityInvalid);
    EXPECT_EQ(embedder->SetThreadPriority(SCHED_RR, 0), kThreadPriorityInvalid);
    // Real-time scheduling needs a privilege this process may lack.
    const int32_t fifo = embedder->SetThreadPriority(SCHED_FIFO, 10);
    EXPECT_TRUE(fifo == 0 || fifo == kInternal) << fifo;

    // Set before Initialize, the setting still reaches the thread that delivers the audio.
    ASSERT_EQ(embedder->SetThreadPriority(SCHED_BATCH, 0), 0);
    ASSERT_EQ(embedder.Start(16, 1), 0);
    const uint8_t block[2] = {};
    ASSERT_EQ(embedder->AddAudioBuffer(block, 2, nullptr), 0);
    ASSERT_EQ(embedder->Finalize(), 0);
    ASSERT_EQ(listener_.BlockCount(), 1u);
    EXPECT_EQ(listener_.Blocks()[0].threadPolicy, SCHED_BATCH);
}

TEST_F(StandinValidationTest, CpuAffinityIsAppliedToTheWorkerOrRefused) {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int cpu = 0;
    while (!CPU_ISSET(cpu, &allowed)) ++cpu;
    ASSERT_LT(cpu, 64);

    Embedder embedder = Embedder::Local(&listener_);
    EXPECT_EQ(embedder->SetThreadCPUAffinity(0), kInternal);
    if (sysconf(_SC_NPROCESSORS_CONF) <= 31) {
        // Bit 31 sign-extended selects CPUs 31 to 63 only.
        EXPECT_EQ(embedder->SetThreadCPUAffinity(-2147483648LL), kInternal);
    }
    ASSERT_EQ(embedder->SetThreadCPUAffinity(int64_t{1} << cpu), 0);
    ASSERT_EQ(embedder.Start(16, 1), 0);
    const uint8_t block[2] = {};
    ASSERT_EQ(embedder->AddAudioBuffer(block, 2, nullptr), 0);
    ASSERT_EQ(embedder->Finalize(), 0);
    ASSERT_EQ(listener_.BlockCount(), 1u);
    const cpu_set_t used = listener_.Blocks()[0].threadCpus;
    EXPECT_EQ(CPU_COUNT(&used), 1);
    EXPECT_TRUE(CPU_ISSET(cpu, &used));
}

}  // namespace
