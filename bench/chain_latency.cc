// Measures what a command adds to a live chain: it writes raw 16-bit stereo blocks of 512
// frames to the command's standard input at the pace of real time, reads its standard output,
// and for every block takes the time from the write of its last byte to the read of its last
// byte (the output keeps the input's byte count and order). Prints the figures in blocks.
//
//   bench-chain-latency SECONDS -- COMMAND [ARGS...]
//   -> blocks=N median_blocks=X p99_blocks=Y max_blocks=Z max_after_BLOCK=... status=S
//
// With --around=BLOCK, `window_max` is the largest delay of the 32 blocks from BLOCK on: with
// a failure planted among them, against the same window of a run without it, what the switch
// to bypass costs the output.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlockBytes = 512 * 4;
constexpr double kBlockSeconds = 512.0 / 48000.0;

double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SECONDS [--around=BLOCK] -- COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    const size_t blocks = static_cast<size_t>(std::atof(argv[1]) / kBlockSeconds);
    int first = 2;
    long around = -1;
    if (std::strncmp(argv[first], "--around=", 9) == 0) around = std::atol(argv[first++] + 9);
    if (std::strcmp(argv[first], "--") == 0) ++first;
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return 2;
    const pid_t child = fork();
    if (child == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(in[0]), close(in[1]), close(out[0]), close(out[1]);
        execvp(argv[first], argv + first);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    std::vector<uint8_t> block(kBlockBytes);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    std::vector<double> written(blocks), delay(blocks);
    const double start = Now();
    size_t sent = 0, sentBlocks = 0, received = 0;
    char buffer[65536];
    while (received < blocks * kBlockBytes) {
        const double now = Now();
        const bool due = sentBlocks < blocks && now >= start + sentBlocks * kBlockSeconds;
        pollfd fds[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        const double next = start + sentBlocks * kBlockSeconds;
        const int wait =
            sentBlocks < blocks ? std::max(0, static_cast<int>((next - now) * 1000)) : 1000;
        if (poll(fds, due ? 2 : 1, due ? 0 : std::min(wait, 1)) < 0) continue;
        if (due || (fds[1].revents & POLLOUT) != 0) {
            while (sentBlocks < blocks && Now() >= start + sentBlocks * kBlockSeconds) {
                const size_t offset = sent % kBlockBytes;
                const ssize_t n = write(in[1], block.data() + offset, kBlockBytes - offset);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
                if (sent % kBlockBytes == 0) written[sentBlocks++] = Now();
            }
            if (sentBlocks == blocks && in[1] >= 0) {
                close(in[1]);
                in[1] = -1;
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0) break;
            const double at = Now();
            for (size_t b = received / kBlockBytes; b < (received + n) / kBlockBytes; ++b) {
                delay[b] = (at - written[b]) / kBlockSeconds;
            }
            received += static_cast<size_t>(n);
        }
    }
    if (in[1] >= 0) close(in[1]);
    int status = 0;
    waitpid(child, &status, 0);
    const size_t done = received / kBlockBytes;
    std::vector<double> sorted(delay.begin(), delay.begin() + done);
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q) {
        return sorted.empty() ? 0.0 : sorted[static_cast<size_t>(q * (sorted.size() - 1))];
    };
    double maxAfter = 0;
    for (size_t b = around < 0 ? done : static_cast<size_t>(around); b < done; ++b) {
        maxAfter = std::max(maxAfter, delay[b]);
    }
    std::printf(
        "blocks=%zu median_blocks=%.3f p99_blocks=%.3f max_blocks=%.3f max_after=%.3f status=%d\n",
        done, at(0.5), at(0.99), sorted.empty() ? 0.0 : sorted.back(), maxAfter,
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return 0;
}
