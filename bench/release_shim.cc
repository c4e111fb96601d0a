// A preload library for the benchmarks: it stands between a program and the embedder
// library and records, for every block, the instant the program handed it over
// (AddAudioBuffer) against the instant it was due, and what each thread cost while the
// program fed. The program itself is unchanged and prints nothing new.
//
//   LD_PRELOAD=libbench-release-shim.so PELLION_BENCH_REPORT=FILE [PELLION_BENCH_LATENESS=FILE]
//
// At the end of the job one line is appended to the REPORT file:
//
//   blocks=N audio_s=S feed_cpu_ns=.. feed_vcsw=.. other_cpu_ns=.. other_vcsw=..
//   other_threads=N late_p50_us=.. late_p99_us=.. late_p999_us=.. late_max_us=..
//   late_min_us=.. late_over=N
//
// "feed" is the thread that calls AddAudioBuffer, "other" every other thread of the process
// (the library's); both from the first block to the start of Finalize, so that start-up and
// the end of the job are left out, and audio_s is the audio handed over in between. The
// lateness of block k is its hand-over instant minus (anchor + media time of block k -
// media time of block 1), where the anchor is the last CLOCK_MONOTONIC reading the feeding
// thread took before handing over block 1 (the rendering clock's anchor), truncated to
// 100 ns as the clock keeps it. Blocks without a timestamp (raw standard input, never
// paced) count but have no lateness. late_over counts blocks more than one 512-frame block
// late. With PELLION_BENCH_LATENESS every block's lateness is appended to that file too.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "lateness.h"
#include "pellion_audio_embedder.h"
#include "thread_stats.h"

namespace {

using Corvida::IPellionAudioEmbedder;

constexpr int64_t kBlockNs = 512LL * 1000000000 / 48000;

// The real functions, found behind this library.
template <typename Function>
Function* Next(const char* mangledName) {
    void* const symbol = dlsym(RTLD_NEXT, mangledName);
    if (symbol == nullptr) {
        std::fprintf(stderr, "bench shim: %s not found\n", mangledName);
        std::abort();
    }
    return reinterpret_cast<Function*>(symbol);
}

using ClockGettime = int(clockid_t, timespec*);

// The main thread's last reading of the monotonic clock; the drivers feed from the main
// thread, and the first block's last reading is the clock's anchor.
pthread_t mainThread;
std::atomic<int64_t> lastMainMonotonicNs{0};

__attribute__((constructor)) void RememberMainThread() {
    mainThread = pthread_self();
}

class RecordingEmbedder : public IPellionAudioEmbedder {
public:
    explicit RecordingEmbedder(IPellionAudioEmbedder* real) : real_(real) {
        releases_.reserve(1 << 16);
    }
    ~RecordingEmbedder() override { Report(); }

    IPellionAudioEmbedder*& Real() { return real_; }

    int32_t GetChannelCount(uint64_t* count) override { return real_->GetChannelCount(count); }
    int32_t GetChannelNameList(const char* const** names, const int64_t** ids,
                               uint64_t* count) override {
        return real_->GetChannelNameList(names, ids, count);
    }
    int32_t SetChannelName(const char* name) override { return real_->SetChannelName(name); }
    int32_t ResynchronizeTimecode() override { return real_->ResynchronizeTimecode(); }
    int32_t SetThreadCPUAffinity(int64_t mask) override {
        return real_->SetThreadCPUAffinity(mask);
    }
    int32_t SetThreadPriority(int32_t policy, int32_t priority) override {
        return real_->SetThreadPriority(policy, priority);
    }
    int32_t SetJobReportDirectory(const char* directory) override {
        return real_->SetJobReportDirectory(directory);
    }
    int32_t GetJobReport(const char** report) override { return real_->GetJobReport(report); }
    int32_t SendJobReport(const char* report) override { return real_->SendJobReport(report); }
    int32_t Initialize() override { return real_->Initialize(); }
    int32_t Finalize() override {
        EndOfFeeding();
        return real_->Finalize();
    }
    int32_t FinalizeWithReport(const char** report) override {
        EndOfFeeding();
        return real_->FinalizeWithReport(report);
    }
    int32_t EnableRecord(const char* directory) override { return real_->EnableRecord(directory); }
    int32_t GetEmbedderParameters(Corvida::IEmbedderParameters** parameters) override {
        return real_->GetEmbedderParameters(parameters);
    }
    int32_t AddMetadata(const char* json) override { return real_->AddMetadata(json); }

    int32_t AddAudioBuffer(const uint8_t* data, uint64_t size, uint64_t* timestamp) override {
        if (releases_.empty()) {
            anchorNs_ = lastMainMonotonicNs.load() / 100 * 100;
        }
        const int64_t now = bench::MonotonicNs();
        // The listener frees the timestamp once the block is back, possibly before the call
        // returns.
        const int64_t media = timestamp != nullptr ? static_cast<int64_t>(*timestamp) : -1;
        releases_.push_back({now, media});
        if (releases_.size() == 1) {
            feeder_ = bench::CurrentTid();
            if (anchorNs_ == 0) anchorNs_ = now;
            before_ = bench::ReadThreadStats();
        }
        return real_->AddAudioBuffer(data, size, timestamp);
    }

private:
    struct Release {
        int64_t atNs;
        int64_t mediaTicks;  // -1: no timestamp
    };

    void EndOfFeeding() {
        if (ended_ || releases_.empty()) return;
        ended_ = true;
        after_ = bench::ReadThreadStats();
    }

    void Report() {
        EndOfFeeding();
        const char* const reportPath = std::getenv("PELLION_BENCH_REPORT");
        if (reportPath == nullptr || releases_.empty()) return;

        std::vector<int64_t> lateness;
        lateness.reserve(releases_.size());
        const int64_t firstMedia = releases_.front().mediaTicks;
        int64_t lastMedia = firstMedia;
        for (const Release& release : releases_) {
            if (release.mediaTicks < 0 || firstMedia < 0) continue;
            const int64_t due = anchorNs_ + (release.mediaTicks - firstMedia) * 100;
            lateness.push_back(release.atNs - due);
            lastMedia = release.mediaTicks;
        }
        const double audioSeconds = static_cast<double>(lastMedia - firstMedia) / 1e7;
        const bench::ThreadCost cost = bench::CostBetween(before_, after_, feeder_);

        std::FILE* const report = std::fopen(reportPath, "a");
        if (report == nullptr) return;
        std::fprintf(report,
                     "released=%zu audio_s=%.6f feed_cpu_ns=%lld feed_vcsw=%lld "
                     "other_cpu_ns=%lld other_vcsw=%lld other_threads=%d %s\n",
                     releases_.size(), audioSeconds, static_cast<long long>(cost.ownCpuNs),
                     static_cast<long long>(cost.ownSwitches),
                     static_cast<long long>(cost.otherCpuNs),
                     static_cast<long long>(cost.otherSwitches), cost.otherThreads,
                     bench::FormatLateness(bench::Summarise(lateness, kBlockNs)).c_str());
        std::fclose(report);
        if (const char* const latenessPath = std::getenv("PELLION_BENCH_LATENESS")) {
            bench::AppendLatenessFile(latenessPath, lateness);
        }
    }

    IPellionAudioEmbedder* real_;
    std::vector<Release> releases_;
    int64_t anchorNs_ = 0;
    pid_t feeder_ = 0;
    bool ended_ = false;
    std::vector<bench::ThreadStats> before_;
    std::vector<bench::ThreadStats> after_;
};

// Wraps a freshly created embedder; a failed Create is passed on untouched.
int32_t Wrap(int32_t result, IPellionAudioEmbedder** embedder) {
    if (result == 0 && embedder != nullptr && *embedder != nullptr) {
        *embedder = new RecordingEmbedder(*embedder);
    }
    return result;
}

}  // namespace

extern "C" int clock_gettime(clockid_t clock, timespec* now) {
    static ClockGettime* const real = Next<ClockGettime>("clock_gettime");
    const int result = real(clock, now);
    if (result == 0 && clock == CLOCK_MONOTONIC && pthread_equal(pthread_self(), mainThread)) {
        lastMainMonotonicNs.store(static_cast<int64_t>(now->tv_sec) * 1000000000 + now->tv_nsec);
    }
    return result;
}

namespace Corvida {

int32_t CreatePellionAudioEmbedder(IEmbedderListener* listener, IPellionAudioEmbedder** embedder,
                                   const char* text) {
    static auto* const real = Next<decltype(CreatePellionAudioEmbedder)>(
        "_ZN7Corvida26CreatePellionAudioEmbedderEPNS_17IEmbedderListenerEPPNS_"
        "21IPellionAudioEmbedderEPKc");
    return Wrap(real(listener, embedder, text), embedder);
}

int32_t CreateOnlinePellionAudioEmbedder(IEmbedderListener* listener,
                                         IPellionAudioEmbedder** embedder, const char* login,
                                         const char* password, int32_t port, const char* server) {
    static auto* const real = Next<decltype(CreateOnlinePellionAudioEmbedder)>(
        "_ZN7Corvida32CreateOnlinePellionAudioEmbedderEPNS_17IEmbedderListenerEPPNS_"
        "21IPellionAudioEmbedderEPKcS6_iS6_");
    return Wrap(real(listener, embedder, login, password, port, server), embedder);
}

int32_t DestroyPellionAudioEmbedder(IPellionAudioEmbedder*& embedder) {
    static auto* const real = Next<decltype(DestroyPellionAudioEmbedder)>(
        "_ZN7Corvida27DestroyPellionAudioEmbedderERPNS_21IPellionAudioEmbedderE");
    auto* const recording = dynamic_cast<RecordingEmbedder*>(embedder);
    if (recording == nullptr) return real(embedder);
    const int32_t result = real(recording->Real());
    delete recording;
    embedder = nullptr;
    return result;
}

}  // namespace Corvida
