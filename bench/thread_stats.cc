#include "thread_stats.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

namespace {

// The whole of a small /proc file, or an empty string.
std::string ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[4096];
    std::string text;
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, got);
    ::close(fd);
    return text;
}

// schedstat: time on the CPU in ns, time waiting for one, number of time slices.
bool ReadOne(pid_t tid, ThreadStats& stats) {
    const std::string dir = "/proc/self/task/" + std::to_string(tid) + "/";
    const std::string schedstat = ReadSmallFile(dir + "schedstat");
    const std::string status = ReadSmallFile(dir + "status");
    const char* const key = "voluntary_ctxt_switches:";
    const size_t at = status.find(key);
    // "nonvoluntary_ctxt_switches:" contains the key too; it comes second in the file.
    if (schedstat.empty() || at == std::string::npos) return false;
    stats.tid = tid;
    stats.cpuNs = std::strtoll(schedstat.c_str(), nullptr, 10);
    stats.voluntarySwitches = std::strtoll(status.c_str() + at + std::strlen(key), nullptr, 10);
    return true;
}

}  // namespace

std::vector<ThreadStats> ReadThreadStats() {
    std::vector<ThreadStats> all;
    DIR* const dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return all;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
        ThreadStats stats;
        if (tid > 0 && ReadOne(tid, stats)) all.push_back(stats);
    }
    ::closedir(dir);
    return all;
}

pid_t CurrentTid() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

ThreadCost CostBetween(const std::vector<ThreadStats>& before,
                       const std::vector<ThreadStats>& after, pid_t own) {
    ThreadCost cost;
    for (const ThreadStats& now : after) {
        ThreadStats then;
        then.tid = now.tid;
        for (const ThreadStats& earlier : before) {
            if (earlier.tid == now.tid) then = earlier;
        }
        const int64_t cpu = now.cpuNs - then.cpuNs;
        const int64_t switches = now.voluntarySwitches - then.voluntarySwitches;
        if (now.tid == own) {
            cost.ownCpuNs += cpu;
            cost.ownSwitches += switches;
        } else {
            cost.otherCpuNs += cpu;
            cost.otherSwitches += switches;
            ++cost.otherThreads;
        }
    }
    return cost;
}

}  // namespace bench
