// Turns the first SIGINT or SIGTERM into an orderly stop of the feeding loop; a second one
// ends the process at once. Also ignores SIGPIPE, so that a closed output pipe shows up as a
// failed write (EPIPE) instead of killing the process with its output incomplete.
#pragma once

// Call once from main's thread before any other thread exists.
void InstallStopSignalHandlers();

// True once a stop signal has arrived.
bool StopRequested();
