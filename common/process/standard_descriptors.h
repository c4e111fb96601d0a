// The three standard descriptors of a process that was started with some of them closed.
#pragma once

// Makes sure descriptors 0, 1 and 2 are open (on /dev/null when they were closed), so that no
// file the run opens lands on one of them and receives console lines.
void EnsureStandardDescriptorsOpen();
