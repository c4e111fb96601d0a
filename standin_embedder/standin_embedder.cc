#include "standin_embedder.h"

#include <fstream>
#include <new>
#include <utility>

#include "json_check.h"
#include "library_result_codes.h"
#include "thread_settings.h"

namespace standin {
namespace {

// A real embedder accepts a handful of metadata texts per job; so does this one.
constexpr std::size_t kMaxMetadata = 7;
constexpr const char* kJobReportFileName = "standin-job-report.json";

// Turns allocation failures inside an operation into a result code: nothing may be thrown
// across the library boundary.
template <typename Body>
int32_t Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return code::kOutOfMemory;
    } catch (...) {
        return code::kInternal;
    }
}

void AppendJsonString(std::string& json, const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    json += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            json += "\\u00";
            json += kHex[(c >> 4) & 0xF];
            json += kHex[c & 0xF];
        } else {
            json += c;
        }
    }
    json += '"';
}

}  // namespace

StandinEmbedder::StandinEmbedder(Kind kind, Corvida::IEmbedderListener* listener,
                                 EmbedderSetup setup)
    : kind_(kind),
      listener_(listener),
      failureReport_(std::move(setup.failureReport)),
      parameters_(listener),
      channels_(setup.channels),
      worker_([this](AudioBlock& block) { Deliver(block); }) {
    worker_.SetLatency(setup.latency);
}

StandinEmbedder::~StandinEmbedder() = default;

int32_t StandinEmbedder::GetChannelCount(uint64_t* count) {
    if (const auto fault = hooks::Enter(Op::kGetChannelCount, listener_)) return *fault;
    if (count == nullptr) return code::kNullPointer;
    *count = channels_.Count();
    return code::kOk;
}

int32_t StandinEmbedder::GetChannelNameList(const char* const** names, const int64_t** ids,
                                            uint64_t* count) {
    if (const auto fault = hooks::Enter(Op::kGetChannelNameList, listener_)) return *fault;
    if (names == nullptr || ids == nullptr || count == nullptr) return code::kNullPointer;
    *names = channels_.Names();
    *ids = channels_.Ids();
    *count = channels_.Count();
    return code::kOk;
}

int32_t StandinEmbedder::SetChannelName(const char* name) {
    if (const auto fault = hooks::Enter(Op::kSetChannelName, listener_, {TraceArg::Text(name)})) {
        return *fault;
    }
    if (state_ != State::kConfiguring) return code::kAlreadyInitialized;
    if (name == nullptr) return code::kNullPointer;
    return channels_.Select(name) ? code::kOk : code::kUnknownChannel;
}

int32_t StandinEmbedder::ResynchronizeTimecode() {
    if (const auto fault = hooks::Enter(Op::kResynchronizeTimecode, listener_)) return *fault;
    return code::kOk;
}

int32_t StandinEmbedder::SetThreadCPUAffinity(int64_t mask) {
    if (const auto fault = hooks::Enter(Op::kSetThreadCPUAffinity, listener_, {mask})) {
        return *fault;
    }
    return ApplyCpuAffinity(worker_.NativeHandle(), mask);
}

int32_t StandinEmbedder::SetThreadPriority(int32_t policy, int32_t priority) {
    if (const auto fault = hooks::Enter(Op::kSetThreadPriority, listener_, {policy, priority})) {
        return *fault;
    }
    return ApplyScheduling(worker_.NativeHandle(), policy, priority);
}

int32_t StandinEmbedder::SetJobReportDirectory(const char* directory) {
    if (const auto fault =
            hooks::Enter(Op::kSetJobReportDirectory, listener_, {TraceArg::Text(directory)})) {
        return *fault;
    }
    if (kind_ != Kind::kOnline) return code::kNotAllowed;
    if (directory == nullptr) return code::kNullPointer;
    if (*directory == '\0') return code::kEmptyParameter;
    if (!IsWritableDirectory(directory)) return code::kIoError;
    return Guarded([&] {
        jobReportDirectory_ = directory;
        return code::kOk;
    });
}

int32_t StandinEmbedder::GetJobReport(const char** report) {
    if (const auto fault = hooks::Enter(Op::kGetJobReport, listener_)) return *fault;
    if (kind_ != Kind::kOnline) return code::kNotAllowed;
    if (report == nullptr) return code::kNullPointer;
    // Before the first finished job there is no report.
    *report = jobReport_ ? jobReport_->c_str() : nullptr;
    return jobReport_ ? code::kOk : code::kError;
}

int32_t StandinEmbedder::SendJobReport(const char* report) {
    if (const auto fault =
            hooks::Enter(Op::kSendJobReport, listener_, {TraceArg::TextLength(report)})) {
        return *fault;
    }
    if (kind_ != Kind::kOnline) return code::kNotAllowed;
    // There is no service to send it to; any text counts as delivered.
    if (report == nullptr || *report == '\0') return code::kJobReportMissing;
    return code::kOk;
}

int32_t StandinEmbedder::Initialize() {
    if (const auto fault = hooks::Enter(Op::kInitialize, listener_)) return *fault;
    if (state_ != State::kConfiguring) return code::kAlreadyInitialized;
    const auto bitsPerSample = parameters_.BitsPerSample();
    const auto channels = parameters_.Channels();
    if (!bitsPerSample || !channels) return code::kSettingsMissing;
    if (kind_ == Kind::kOnline && metadata_.empty()) return code::kMetadataMandatory;
    const int32_t result = Guarded([&] {
        if (recordDirectory_) {
            record_ = WavRecord::Create(*recordDirectory_, *channels, *bitsPerSample);
            if (!record_) return code::kIoError;
        }
        const ChannelEntry* channel = channels_.Selected();
        mark_.emplace(*bitsPerSample, channel != nullptr ? channel->id : 0);
        return code::kOk;
    });
    if (result != code::kOk) return result;
    sampleBytes_ = InterfaceSampleBytes(*bitsPerSample);
    parameters_.Freeze();
    state_ = State::kRunning;
    listener_->OnMessage({0, 0, "Stand-in embedder initialized"});
    return code::kOk;
}

int32_t StandinEmbedder::Finalize() {
    if (const auto fault = hooks::Enter(Op::kFinalize, listener_)) return *fault;
    if (kind_ != Kind::kLocal) return code::kNotAllowed;
    if (state_ != State::kRunning) return code::kNotInitialized;
    return EndJob();
}

int32_t StandinEmbedder::FinalizeWithReport(const char** report) {
    if (const auto fault = hooks::Enter(Op::kFinalizeWithReport, listener_)) {
        if (report != nullptr) *report = failureReport_ ? failureReport_->c_str() : nullptr;
        return *fault;
    }
    if (kind_ != Kind::kOnline) return code::kNotAllowed;
    if (report == nullptr) return code::kNullPointer;
    if (state_ != State::kRunning) return code::kNotInitialized;
    const int32_t ended = EndJob();
    const int32_t reported = Guarded([&] {
        jobReport_ = BuildJobReport(ended == code::kOk);
        *report = jobReport_->c_str();
        if (jobReportDirectory_ && !WriteJobReportCopy()) return code::kReportGeneration;
        return code::kOk;
    });
    return ended != code::kOk ? ended : reported;
}

int32_t StandinEmbedder::AddAudioBuffer(const uint8_t* data, uint64_t size, uint64_t* timestamp) {
    if (const auto fault =
            hooks::Enter(Op::kAddAudioBuffer, listener_, {size, TraceArg::ValueAt(timestamp)})) {
        return *fault;
    }
    if (state_ != State::kRunning) return code::kNotInitialized;
    if (data == nullptr && size > 0) return code::kNullPointer;
    if (size % sampleBytes_ != 0) return code::kBufferSizeInvalid;
    return Guarded([&] {
        worker_.Push(data, size, timestamp);
        bytesAccepted_ += size;
        return code::kOk;
    });
}

int32_t StandinEmbedder::EnableRecord(const char* directory) {
    if (const auto fault =
            hooks::Enter(Op::kEnableRecord, listener_, {TraceArg::Text(directory)})) {
        return *fault;
    }
    if (state_ != State::kConfiguring) return code::kAlreadyInitialized;
    if (directory == nullptr) return code::kNullPointer;
    if (*directory == '\0') return code::kEmptyParameter;
    if (!IsWritableDirectory(directory)) return code::kIoError;
    return Guarded([&] {
        recordDirectory_ = directory;
        return code::kOk;
    });
}

int32_t StandinEmbedder::GetEmbedderParameters(Corvida::IEmbedderParameters** parameters) {
    if (const auto fault = hooks::Enter(Op::kGetEmbedderParameters, listener_)) return *fault;
    if (parameters == nullptr) return code::kNullPointer;
    *parameters = &parameters_;
    return code::kOk;
}

int32_t StandinEmbedder::AddMetadata(const char* json) {
    if (const auto fault =
            hooks::Enter(Op::kAddMetadata, listener_, {TraceArg::TextLength(json)})) {
        return *fault;
    }
    if (kind_ != Kind::kOnline) return code::kNotAllowed;
    if (state_ != State::kConfiguring) return code::kAlreadyInitialized;
    if (json == nullptr) return code::kNullPointer;
    if (*json == '\0') return code::kMetadataMandatory;
    if (metadata_.size() >= kMaxMetadata) return code::kTooManyMetadata;
    if (!IsJsonObject(json)) return code::kMetadataParsing;
    return Guarded([&] {
        metadata_.emplace_back(json);
        return code::kOk;
    });
}

void StandinEmbedder::Deliver(AudioBlock& block) {
    mark_->Apply(block.bytes.data(), block.bytes.size());
    // Recorded before the listener sees the block, since the listener may rewrite it.
    if (record_) record_->Write(block.bytes.data(), block.bytes.size());
    listener_->OnAudioBuffer(block.bytes.empty() ? nullptr : block.bytes.data(), block.bytes.size(),
                             block.timestamp);
}

int32_t StandinEmbedder::EndJob() {
    worker_.Flush();
    state_ = State::kFinished;
    if (record_ && !record_->Finish()) return code::kIoError;
    return code::kOk;
}

std::string StandinEmbedder::BuildJobReport(bool recordComplete) const {
    std::size_t metadataBytes = 0;
    for (const std::string& text : metadata_) metadataBytes += text.size();
    const ChannelEntry* channel = channels_.Selected();
    std::string json = "{\"status\":";
    json += recordComplete ? "\"ok\"" : "\"record incomplete\"";
    json += ",\"bytes\":" + std::to_string(bytesAccepted_) + ",\"channel\":";
    if (channel != nullptr && channel->name) {
        AppendJsonString(json, *channel->name);
    } else {
        json += "null";
    }
    json += ",\"channelId\":" + std::to_string(channel != nullptr ? channel->id : 0);
    json += ",\"metadataBytes\":" + std::to_string(metadataBytes) + "}";
    return json;
}

bool StandinEmbedder::WriteJobReportCopy() const {
    std::ofstream file(*jobReportDirectory_ + "/" + kJobReportFileName, std::ios::trunc);
    file << *jobReport_;
    file.close();
    return !file.fail();
}

}  // namespace standin
