#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const ProcessOptions& options)
    : options_(options) {
    // A child that exits before reading its input must not kill the test with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    const bool stdinFromFile = options_.stdinDevNull || options_.stdinFile.has_value();
    if ((!stdinFromFile && pipe(in) != 0) || (!options_.stdoutFile && pipe(out) != 0) ||
        pipe(err) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> argvStrings;
    argvStrings.push_back(options_.argv0.value_or(program));
    argvStrings.insert(argvStrings.end(), options_.args.begin(), options_.args.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (stdinFromFile) {
            const int file = open(options_.stdinFile.value_or("/dev/null").c_str(), O_RDONLY);
            if (file < 0) _exit(126);
            dup2(file, 0);
        } else {
            dup2(in[0], 0);
        }
        if (options_.stdoutFile) {
            int file = open(options_.stdoutFile->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0) _exit(126);
            dup2(file, 1);
        } else {
            dup2(out[1], 1);
        }
        dup2(err[1], 2);
        for (int fd = 3; fd < 256; ++fd) close(fd);
        signal(SIGPIPE, SIG_DFL);
        for (const auto& name : options_.unsetEnv) unsetenv(name.c_str());
        for (const auto& [name, value] : options_.env) setenv(name.c_str(), value.c_str(), 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (!stdinFromFile) {
        close(in[0]);
        stdinFd_ = in[1];
        SetNonBlocking(stdinFd_);
    }
    if (!options_.stdoutFile) {
        close(out[1]);
        stdoutFd_ = out[0];
        SetNonBlocking(stdoutFd_);
    }
    close(err[1]);
    stderrFd_ = err[0];
    SetNonBlocking(stderrFd_);
    const auto now = std::chrono::steady_clock::now();
    deadline_ = now + options_.timeout;
    nextChunkAt_ = now + (options_.stdinChunks.empty() ? std::chrono::milliseconds(0)
                                                       : options_.stdinChunks[0].delay);
    if (options_.stdinChunks.empty()) CloseFd(stdinFd_);
}

ChildProcess::~ChildProcess() {
    if (!exited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    CloseFd(stdinFd_);
    CloseFd(stdoutFd_);
    CloseFd(stderrFd_);
}

void ChildProcess::Signal(int signalNumber) const {
    if (!exited_) kill(pid_, signalNumber);
}

bool ChildProcess::Pump(std::chrono::steady_clock::time_point until) {
    while (std::chrono::steady_clock::now() < until) {
        const auto now = std::chrono::steady_clock::now();
        // Feed the current chunk when it is due.
        if (stdinFd_ >= 0 && now >= nextChunkAt_) {
            const std::string& bytes = options_.stdinChunks[chunkIndex_].bytes;
            while (chunkOffset_ < bytes.size()) {
                const ssize_t n =
                    write(stdinFd_, bytes.data() + chunkOffset_, bytes.size() - chunkOffset_);
                if (n > 0) {
                    chunkOffset_ += static_cast<size_t>(n);
                } else {
                    if (n < 0 && errno == EPIPE) CloseFd(stdinFd_);
                    break;
                }
            }
            if (stdinFd_ >= 0 && chunkOffset_ == bytes.size()) {
                ++chunkIndex_;
                chunkOffset_ = 0;
                if (chunkIndex_ == options_.stdinChunks.size()) {
                    CloseFd(stdinFd_);
                } else {
                    nextChunkAt_ = now + options_.stdinChunks[chunkIndex_].delay;
                }
            }
        }
        std::vector<pollfd> fds;
        if (stdoutFd_ >= 0) fds.push_back({stdoutFd_, POLLIN, 0});
        if (stderrFd_ >= 0) fds.push_back({stderrFd_, POLLIN, 0});
        const bool feeding = stdinFd_ >= 0 && now >= nextChunkAt_;
        if (feeding) fds.push_back({stdinFd_, POLLOUT, 0});
        int waitMs = 20;
        if (stdinFd_ >= 0 && !feeding) {
            const auto toChunk =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextChunkAt_ - now).count();
            waitMs = static_cast<int>(std::max<long long>(0, std::min<long long>(waitMs, toChunk)));
        }
        poll(fds.data(), fds.size(), waitMs);
        char buffer[65536];
        for (int* fd : {&stdoutFd_, &stderrFd_}) {
            if (*fd < 0) continue;
            std::string& sink = fd == &stdoutFd_ ? result_.out : result_.err;
            for (;;) {
                const ssize_t n = read(*fd, buffer, sizeof buffer);
                if (n > 0) {
                    sink.append(buffer, static_cast<size_t>(n));
                } else {
                    if (n == 0) CloseFd(*fd);
                    break;
                }
            }
        }
        if (!exited_) {
            int status = 0;
            rusage usage{};
            if (wait4(pid_, &status, WNOHANG, &usage) == pid_) {
                exited_ = true;
                result_.peakMemoryKiB = usage.ru_maxrss;
                if (WIFEXITED(status)) result_.exitStatus = WEXITSTATUS(status);
                if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
            }
        }
        if (exited_ && stdoutFd_ < 0 && stderrFd_ < 0) return true;
    }
    return exited_ && stdoutFd_ < 0 && stderrFd_ < 0;
}

void ChildProcess::PumpFor(std::chrono::milliseconds duration) {
    Pump(std::chrono::steady_clock::now() + duration);
}

bool ChildProcess::PumpUntil(const std::function<bool()>& ready,
                             std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        PumpFor(std::chrono::milliseconds(10));
        if (ready()) return true;
    }
    return false;
}

ProcessResult ChildProcess::Finish() {
    if (!Pump(deadline_)) {
        result_.timedOut = true;
        if (!exited_) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            exited_ = true;
            result_.signal = SIGKILL;
        }
    }
    return result_;
}

ProcessResult RunProcess(const std::string& program, const ProcessOptions& options) {
    ChildProcess child(program, options);
    return child.Finish();
}

std::string EmbedderToolPath() {
    return std::string(PELLION_BIN_DIR) + "/pellion-embed";
}
std::string OnlineEmbedderToolPath() {
    return std::string(PELLION_BIN_DIR) + "/pellion-embed-online";
}
