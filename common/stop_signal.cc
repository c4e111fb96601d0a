#include "stop_signal.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The only mutable global state of the programs: written by the signal handler.
volatile sig_atomic_t stopRequested = 0;
// Written once before any other thread exists, then only read.
pthread_t mainThread;

void OnStopSignal(int signalNumber) {
    // A process-directed signal may land on a thread of the embedder library; hand it to the
    // main thread so that its blocking read is interrupted.
    if (!pthread_equal(pthread_self(), mainThread)) {
        pthread_kill(mainThread, signalNumber);
        return;
    }
    if (stopRequested) {
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    stopRequested = 1;
    // Make standard input read as ended: covers a signal that arrives just before the loop
    // blocks in read(), which EINTR alone would miss.
    const int savedErrno = errno;
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
    errno = savedErrno;
}

}  // namespace

void InstallStopSignalHandlers() {
    mainThread = pthread_self();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read must return with EINTR
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopRequested != 0;
}
