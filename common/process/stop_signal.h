// Turns the first SIGINT, SIGTERM or SIGHUP into an orderly stop of the run; a second one ends
// the process at once. Also ignores SIGPIPE and SIGXFSZ, so that a closed output pipe or a
// file-size limit shows up as a failed write (EPIPE, EFBIG) instead of killing the process
// with its output incomplete.
//
// What the handler does besides recording the signal:
// - on a thread other than the main one (a thread of the embedder library), it only passes
//   the signal on to the main thread, whose blocking call must end;
// - it points standard input at /dev/null, so that a read of standard input that waits, or is
//   about to start, ends as at the end of the input;
// - for a second stop signal, it restores the default action and raises the signal again.
//
// The signal number it records is the only global state the programs change while they run.
// Besides it there is the main thread's id, written once by InstallStopSignalHandlers before
// any other thread exists, and the buffer stdio reads raw standard input through.
#pragma once

// Call once from main's thread before any other thread exists. Until
// RestartCallsAfterStopSignal, a stop signal interrupts the blocking call it lands in (the
// open() of a FIFO that no one writes, a read of the metadata file), so that set-up ends at
// once.
void InstallStopSignalHandlers();

// From the first block on: a call interrupted by a stop signal is restarted instead, so that
// no console line and no audio write fails because of the signal; the feeding loop looks at
// StopRequested between blocks.
void RestartCallsAfterStopSignal();

// True once a stop signal has arrived.
bool StopRequested();
// The first stop signal's number, or 0.
int StopSignalNumber();
// "SIGINT", "SIGTERM" or "SIGHUP".
const char* StopSignalName(int signalNumber);
