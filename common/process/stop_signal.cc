#include "stop_signal.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the signal handler only: the number of the first stop signal. Read by the
// library's thread too (the output gives up some time after a stop), so an atomic, and a
// lock-free one, which a signal handler may use. Nothing else is ordered by it.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
// Written once before any other thread exists, then only read.
pthread_t mainThread;

void OnStopSignal(int signalNumber) {
    // A process-directed signal may land on a thread of the embedder library; hand it to the
    // main thread, whose blocking call must end.
    if (!pthread_equal(pthread_self(), mainThread)) {
        pthread_kill(mainThread, signalNumber);
        return;
    }
    if (stopSignal.load(std::memory_order_relaxed) != 0) {
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    stopSignal.store(signalNumber, std::memory_order_relaxed);
    // Make standard input read as ended. A restarted read() runs on the new descriptor and
    // returns end of file; a read that was about to start does the same.
    const int savedErrno = errno;
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
    errno = savedErrno;
}

void SetStopAction(int flags) {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    for (const int signalNumber : kStopSignals) sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void InstallStopSignalHandlers() {
    mainThread = pthread_self();
    SetStopAction(0);
    signal(SIGPIPE, SIG_IGN);
    // A file-size limit then fails the write with EFBIG, which ends the run like a full disk,
    // with the whole frames kept behind true sizes, instead of killing it mid-write.
    signal(SIGXFSZ, SIG_IGN);
}

void RestartCallsAfterStopSignal() {
    SetStopAction(SA_RESTART);
}

bool StopRequested() {
    return stopSignal.load(std::memory_order_relaxed) != 0;
}

int StopSignalNumber() {
    return stopSignal.load(std::memory_order_relaxed);
}

const char* StopSignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a stop signal";
    }
}
