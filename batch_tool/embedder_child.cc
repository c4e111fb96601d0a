#include "embedder_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>

#include "code_exception.h"
#include "result_codes.h"
#include "system_cause.h"

namespace {

[[noreturn]] void RaiseStartError(const std::string& action, int error) {
    CorvidaUtils::Raise(CorvidaUtils::Status(
        CorvidaUtils::kIoError, "Unable to start pellion-embed", SystemCause(action, error)));
}

// What a run prints is kept up to this much per stream (its last bytes): the result line and
// the cause line come last.
constexpr size_t kKeptBytes = 64 * 1024;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

// Between fork and exec only async-signal-safe calls; the stop signals stay blocked until the
// child has dropped the batch's handlers, so that a stop sent early still ends it.
[[noreturn]] void BecomeChild(pid_t parent, int out, int err, const char* program,
                              char* const* argv, const sigset_t& blocked) {
    setpgid(0, 0);
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
#else
    (void)parent;
#endif
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
        signal(signalNumber, SIG_DFL);
    }
    sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    execv(program, argv);
    _exit(127);
}

}  // namespace

EmbedderChild::EmbedderChild(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : strings) argv.push_back(text.data());
    argv.push_back(nullptr);

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) RaiseStartError("cannot make a pipe", errno);
    UniqueFd outWrite(out[1]);
    out_.reset(out[0]);
    if (pipe2(err, O_CLOEXEC) != 0) RaiseStartError("cannot make a pipe", errno);
    UniqueFd errWrite(err[1]);
    err_.reset(err[0]);

    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (const int signalNumber : kStopSignals) sigaddset(&blocked, signalNumber);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) BecomeChild(parent, out[1], err[1], program.c_str(), argv.data(), blocked);
    const int forkError = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (pid_ < 0) RaiseStartError("cannot start '" + program + "'", forkError);
    fcntl(out_.get(), F_SETFL, O_NONBLOCK);
    fcntl(err_.get(), F_SETFL, O_NONBLOCK);
}

EmbedderChild::~EmbedderChild() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

void EmbedderChild::AddPollEntries(std::vector<pollfd>& entries) const {
    for (const UniqueFd* pipe : {&out_, &err_}) {
        if (*pipe) entries.push_back({pipe->get(), POLLIN, 0});
    }
}

bool EmbedderChild::ReadInto(UniqueFd& pipe, std::string& text) {
    char buffer[4096];
    while (pipe) {
        const ssize_t got = read(pipe.get(), buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
            if (text.size() > 2 * kKeptBytes) text.erase(0, text.size() - kKeptBytes);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && errno == EAGAIN) {
            return false;
        } else {
            pipe.reset();  // end of file, or a pipe that cannot be read any more
        }
    }
    return true;
}

bool EmbedderChild::Pump() {
    const bool outEnded = ReadInto(out_, outText_);
    const bool errEnded = ReadInto(err_, errText_);
    return outEnded && errEnded;
}

ChildReport EmbedderChild::Finish() {
    int status = 0;
    rusage usage{};
    while (wait4(pid_, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            status = W_EXITCODE(127, 0);
            break;
        }
    }
    pid_ = -1;
    return ReadChildReport(outText_, errText_, status,
                           Seconds(usage.ru_utime) + Seconds(usage.ru_stime));
}

void EmbedderChild::Stop() const {
    if (pid_ > 0) kill(pid_, SIGTERM);
}
