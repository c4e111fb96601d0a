// The last line of a run as a person reads it: "[SUCCESS]", the error line with its code's
// text, or the line of a run that a stop signal ended; and the exit status of such a run.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "status.h"

namespace CorvidaUtils {

// The error line of a failure, without its end of line: "[ERROR] code N (text). context".
std::string ErrorLine(const Status& failure);

// Prints "[SUCCESS]" for code 0 when `printSuccess`, otherwise the error line and an empty
// line; for a command-line error (43) one more empty line and the usage text follow.
void PrintResultLine(std::ostream& out, const Status& result, bool printSuccess,
                     const std::function<void(std::ostream&)>& printUsage);

// The result line of a run that a stop signal ended, in place of "[SUCCESS]": it names the
// signal and how much audio the output holds, so that no one takes a cut-off output for a
// finished one. `outputTookAll` is false when the output stopped taking audio before all that
// was fed reached it.
void PrintInterruptedLine(std::ostream& out, std::string_view signalName, bool beforeAudio,
                          uint64_t outputFrames, bool outputTookAll);

// 128 + the signal number, as a shell reports a process the signal ended.
int InterruptedExitStatus(int signalNumber);

}  // namespace CorvidaUtils
