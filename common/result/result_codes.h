// The general result codes, in one table: what the programs exit with and name on the result
// line. Library, reader and writer codes are converted into them (code_exception.h); these
// are the ones the programs use by name.
#pragma once

#include <cstdint>

namespace CorvidaUtils {

constexpr int32_t kSuccess = 0;
constexpr int32_t kGenericError = 1;  // also: an exception that is no CodeException
constexpr int32_t kNullPointer = 2;   // also: a library that reports success with null
constexpr int32_t kMemoryError = 5;   // every allocation that fails
constexpr int32_t kWrongRate = 18;    // the input is not at 48000 Hz
constexpr int32_t kNoChannel = 35;    // no channel to select
constexpr int32_t kCommandLineError = 43;
constexpr int32_t kIoError = 44;
constexpr int32_t kUnsupportedWav = 45;
constexpr int32_t kUndefinedError = 51;  // a component code with no conversion; an exit
                                         // status for a code no exit status can carry

}  // namespace CorvidaUtils
