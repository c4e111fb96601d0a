// The floor of paced feeding: the least a program can do to pass a 48 kHz stereo 16-bit WAV
// file on at the pace of real time. Per 512-frame block it reads 2048 bytes, sleeps once
// with clock_nanosleep to the block's absolute instant, and writes the 2048 bytes; with
// --threads=2 a second thread takes each block and writes it, the shape of a program that
// hands its blocks to a library's worker thread. The benchmarks print the programs' pacing
// figures as ratios to this one's, measured in the same run.
//
//   bench-floor [--threads=1|2] [--lateness=FILE] INPUT.wav OUTPUT REPORT
//
// Appends to REPORT one line with the same keys as the preload shim's (release_shim.cc):
// blocks are due at the first block's instant plus 512 frames each, and the lateness of a
// block is the moment its sleep ended (it was written or handed over right then) minus that.
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lateness.h"
#include "thread_stats.h"

namespace {

constexpr size_t kBlockBytes = 2048;  // 512 frames of 16-bit stereo
constexpr size_t kWavHeaderBytes = 44;
constexpr int64_t kFramesPerBlock = 512;
constexpr int64_t kRate = 48000;
constexpr int64_t kBlockNs = kFramesPerBlock * 1000000000 / kRate;

// When block `index` (from 0) is due, counted from the first block's instant.
int64_t DueOffsetNs(int64_t index) {
    return index * kFramesPerBlock * 1000000000 / kRate;
}

using Block = std::array<uint8_t, kBlockBytes>;

int Usage() {
    std::fprintf(stderr,
                 "usage: bench-floor [--threads=1|2] [--lateness=FILE] INPUT.wav OUTPUT REPORT\n");
    return 2;
}

// Reads up to `size` bytes; fewer only at the end of the file.
size_t ReadFull(int fd, uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

bool WriteFull(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

void SleepUntilNs(int64_t ns) {
    const timespec target{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &target, nullptr) == EINTR) {
    }
}

// The second thread of --threads=2: takes each block as soon as it is handed over.
class Writer {
public:
    explicit Writer(int fd) : fd_(fd), thread_([this] { Run(); }) {}
    ~Writer() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_one();
        thread_.join();
    }

    void Push(const Block& block, size_t size) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({block, size});
        }
        ready_.notify_one();
    }

    bool failed() const { return failed_; }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            const std::pair<Block, size_t> item = queue_.front();
            queue_.pop_front();
            lock.unlock();
            if (!WriteFull(fd_, item.first.data(), item.second)) failed_ = true;
            lock.lock();
        }
    }

    const int fd_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::pair<Block, size_t>> queue_;
    bool stopping_ = false;
    bool failed_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    int threads = 1;
    std::string latenessPath;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads=1" || arg == "--threads=2") {
            threads = arg.back() - '0';
        } else if (arg.rfind("--lateness=", 0) == 0) {
            latenessPath = arg.substr(11);
        } else if (arg.rfind("--", 0) == 0) {
            return Usage();
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 3) return Usage();

    const int in = ::open(paths[0].c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(paths[1].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) {
        std::perror("bench-floor: open");
        return 2;
    }
    Block block{};
    // The header is passed on as it is; the programs write a WAV file too.
    if (ReadFull(in, block.data(), kWavHeaderBytes) != kWavHeaderBytes ||
        !WriteFull(out, block.data(), kWavHeaderBytes)) {
        std::fprintf(stderr, "bench-floor: %s is not a WAV file\n", paths[0].c_str());
        return 2;
    }

    std::vector<int64_t> lateness;
    lateness.reserve(1 << 16);
    std::vector<bench::ThreadStats> before;
    int64_t anchorNs = 0;
    int64_t blocks = 0;
    bool failed = false;
    {
        std::unique_ptr<Writer> writer;
        if (threads == 2) writer = std::make_unique<Writer>(out);
        size_t size;
        while ((size = ReadFull(in, block.data(), kBlockBytes)) > 0) {
            int64_t releasedNs;
            if (blocks == 0) {
                anchorNs = bench::MonotonicNs();
                releasedNs = anchorNs;
            } else {
                SleepUntilNs(anchorNs + DueOffsetNs(blocks));
                releasedNs = bench::MonotonicNs();
            }
            lateness.push_back(releasedNs - (anchorNs + DueOffsetNs(blocks)));
            if (writer) {
                writer->Push(block, size);
            } else if (!WriteFull(out, block.data(), size)) {
                failed = true;
                break;
            }
            if (blocks++ == 0) before = bench::ReadThreadStats();
        }
        if (writer) failed = writer->failed();
        // The snapshot is taken while the second thread still exists.
        const std::vector<bench::ThreadStats> after = bench::ReadThreadStats();
        const bench::ThreadCost cost = bench::CostBetween(before, after, bench::CurrentTid());
        std::FILE* const report = std::fopen(paths[2].c_str(), "a");
        if (report == nullptr) {
            std::perror("bench-floor: report");
            return 2;
        }
        std::fprintf(
            report,
            "released=%lld audio_s=%.6f feed_cpu_ns=%lld feed_vcsw=%lld "
            "other_cpu_ns=%lld other_vcsw=%lld other_threads=%d %s\n",
            static_cast<long long>(blocks),
            static_cast<double>(DueOffsetNs(blocks > 0 ? blocks - 1 : 0)) / 1e9,
            static_cast<long long>(cost.ownCpuNs), static_cast<long long>(cost.ownSwitches),
            static_cast<long long>(cost.otherCpuNs), static_cast<long long>(cost.otherSwitches),
            cost.otherThreads, bench::FormatLateness(bench::Summarise(lateness, kBlockNs)).c_str());
        std::fclose(report);
    }
    if (!latenessPath.empty()) bench::AppendLatenessFile(latenessPath, lateness);
    ::close(in);
    if (::close(out) != 0 || failed) {
        std::fprintf(stderr, "bench-floor: writing %s failed\n", paths[1].c_str());
        return 1;
    }
    return 0;
}
