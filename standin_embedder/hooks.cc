#include "hooks.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace standin::hooks {
namespace {

constexpr const char* kFaultsVariable = "PELLION_STANDIN_FAULTS";
constexpr const char* kTraceVariable = "PELLION_STANDIN_TRACE";

void Complain(const std::string& text) {
    std::fprintf(stderr, "pellion stand-in: %s\n", text.c_str());
}

class HookState {
public:
    static HookState& Instance() {
        static HookState state;
        return state;
    }

    void Reload() {
        const std::lock_guard<std::mutex> lock(mutex_);
        LoadLocked();
    }

    std::optional<int32_t> Enter(Op op, Corvida::IEmbedderListener* listener,
                                 std::initializer_list<TraceArg> args) {
        if (mode_.load(std::memory_order_acquire) == Mode::kInactive) return std::nullopt;
        std::optional<int32_t> fault;
        std::vector<MessageRule> messages;
        std::chrono::milliseconds delay{0};
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (mode_.load(std::memory_order_relaxed) == Mode::kUnloaded) LoadLocked();
            if (mode_.load(std::memory_order_relaxed) == Mode::kInactive) return std::nullopt;
            if (trace_) trace_->WriteLine(FormatTraceLine(OpName(op), args));
            const uint64_t callNumber = ++calls_[OpIndex(op)];
            fault = rules_.FaultFor(op, callNumber);
            messages = rules_.messages[OpIndex(op)];
            delay = std::chrono::milliseconds(rules_.delayMs[OpIndex(op)]);
        }
        // A slow call (a network round trip, a licence check) is slow for this caller only.
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        // Outside the lock: a listener may well call back into the library.
        if (listener != nullptr) {
            for (const MessageRule& rule : messages) {
                const Corvida::EmbedderMessage message{rule.level, rule.code,
                                                       rule.text ? rule.text->c_str() : nullptr};
                listener->OnMessage(message);
            }
        }
        return fault;
    }

    EmbedderSetup Setup() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (mode_.load(std::memory_order_relaxed) == Mode::kUnloaded) LoadLocked();
        EmbedderSetup setup;
        setup.channels = rules_.channels;
        setup.failureReport = rules_.failureReport;
        if (rules_.latency) setup.latency = *rules_.latency;
        return setup;
    }

private:
    enum class Mode { kUnloaded, kInactive, kActive };

    HookState() = default;

    void LoadLocked() {
        const char* faults = std::getenv(kFaultsVariable);
        const char* tracePath = std::getenv(kTraceVariable);
        const std::string faultText = faults == nullptr ? "" : faults;
        const std::string traceText = tracePath == nullptr ? "" : tracePath;
        // Problems are told once per text, not again at every Create that rereads it.
        const bool firstLoad = mode_.load(std::memory_order_relaxed) == Mode::kUnloaded;
        const bool faultsChanged = firstLoad || faultText != loadedFaults_;
        const bool traceChanged = firstLoad || traceText != loadedTrace_;
        loadedFaults_ = faultText;
        loadedTrace_ = traceText;

        std::vector<std::string> problems;
        rules_ = ParseFaultRules(faultText, problems);
        if (faultsChanged) {
            for (const std::string& problem : problems) Complain(problem);
        }
        calls_.fill(0);
        trace_.reset();
        if (!traceText.empty()) {
            trace_ = std::make_unique<TraceFile>(traceText);
            if (!trace_->Valid()) {
                if (traceChanged) Complain("cannot open the trace file " + traceText);
                trace_.reset();
            }
        }
        const bool active = !faultText.empty() || trace_ != nullptr;
        mode_.store(active ? Mode::kActive : Mode::kInactive, std::memory_order_release);
    }

    std::mutex mutex_;
    std::atomic<Mode> mode_{Mode::kUnloaded};
    FaultRules rules_;
    std::array<uint64_t, kOpCount> calls_{};
    std::unique_ptr<TraceFile> trace_;
    std::string loadedFaults_;
    std::string loadedTrace_;
};

}  // namespace

void Reload() {
    HookState::Instance().Reload();
}

std::optional<int32_t> Enter(Op op, Corvida::IEmbedderListener* listener,
                             std::initializer_list<TraceArg> args) {
    return HookState::Instance().Enter(op, listener, args);
}

EmbedderSetup SetupForNewEmbedder() {
    return HookState::Instance().Setup();
}

}  // namespace standin::hooks
