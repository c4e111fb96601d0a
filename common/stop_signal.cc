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
    // main thread, whose blocking read must end.
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
    // Make standard input read as ended. The interrupted read() is restarted on the new
    // descriptor and returns end of file; a read that was about to start does the same.
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
    // Restarting keeps the signal from failing the writes of the console lines and of the
    // audio, on whatever thread they are when it arrives.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
    return stopRequested != 0;
}
