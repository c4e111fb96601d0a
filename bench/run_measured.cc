// Runs a command and prints what it cost, on one line of key=value pairs:
//
//   bench-run [--first-byte] [--stdout=FILE] -- COMMAND [ARGUMENTS...]
//
//   wall_s    time from just before the command was started to its exit
//   user_s    CPU time in user mode of the command and of everything it waited for
//   sys_s     CPU time in the kernel, likewise
//   maxrss_kib  peak resident memory of the largest process among them
//   status    the exit status (128 + N for a command ended by signal N)
//   first_byte_ms  with --first-byte: time from the start to the first byte the command
//             wrote on its standard output, which is then read and thrown away
//
// Standard input is the command's own; standard output goes to FILE if given (default: this
// program's standard output, or the measuring pipe with --first-byte).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

int Usage() {
    std::fprintf(stderr, "usage: bench-run [--first-byte] [--stdout=FILE] -- COMMAND [ARGS...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool firstByte = false;
    std::string stdoutFile;
    int next = 1;
    for (; next < argc; ++next) {
        const std::string arg = argv[next];
        if (arg == "--") {
            ++next;
            break;
        }
        if (arg == "--first-byte") {
            firstByte = true;
        } else if (arg.rfind("--stdout=", 0) == 0) {
            stdoutFile = arg.substr(9);
        } else {
            return Usage();
        }
    }
    if (next >= argc) return Usage();

    int pipeFds[2] = {-1, -1};
    if (firstByte && ::pipe(pipeFds) != 0) {
        std::perror("bench-run: pipe");
        return 2;
    }
    const double start = Now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("bench-run: fork");
        return 2;
    }
    if (child == 0) {
        if (firstByte) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
        } else if (!stdoutFile.empty()) {
            const int fd = ::open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0) _exit(127);
            ::close(fd);
        }
        ::execvp(argv[next], argv + next);
        std::fprintf(stderr, "bench-run: cannot run %s: %s\n", argv[next], std::strerror(errno));
        _exit(127);
    }

    double firstByteTime = -1;
    if (firstByte) {
        ::close(pipeFds[1]);
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            if (firstByteTime < 0) firstByteTime = Now();
        }
        ::close(pipeFds[0]);
    }

    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("bench-run: wait4");
            return 2;
        }
    }
    const double end = Now();
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("wall_s=%.6f user_s=%.6f sys_s=%.6f maxrss_kib=%ld status=%d", end - start,
                Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss, exitStatus);
    if (firstByte) {
        std::printf(" first_byte_ms=%.3f",
                    firstByteTime < 0 ? -1.0 : (firstByteTime - start) * 1e3);
    }
    std::printf("\n");
    return 0;
}
