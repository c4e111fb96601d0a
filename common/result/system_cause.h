// The cause of a failure that the system reported: what was being done to which object, and
// the system's reason (strerror), e.g. "cannot write 'out.wav': No space left on device".
#pragma once

#include <string>

// Empty when `error` is 0 (the system gave no reason) or `action` is empty.
std::string SystemCause(const std::string& action, int error);
