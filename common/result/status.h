// The one value every layer returns or raises about how a step went: success, or a failure in
// the general numbering of result codes, with the context the result line names and, where
// the system gave one, its cause (the object and the system's reason, see system_cause.h).
// The library's, the WAV reader's and the WAV writer's own numberings are converted into it
// once, where their results arise, each by one table.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "result_codes.h"

namespace CorvidaUtils {

class Status {
public:
    Status() = default;
    Status(int32_t code, std::string context, std::string cause = std::string())
        : code_(code), context_(std::move(context)), cause_(std::move(cause)) {}

    // A result of the embedder library, the WAV reader or the WAV writer, in the general
    // numbering; a component's success is success.
    static Status FromLibrary(int32_t libraryCode, std::string context);
    static Status FromReader(int32_t readerCode, std::string context);
    static Status FromWriter(int32_t writerCode, std::string context);

    bool ok() const { return code_ == kSuccess; }
    int32_t code() const { return code_; }
    // The text after the code on the result line.
    const std::string& context() const { return context_; }
    // The line before the result line that says what failed and why; empty when unknown.
    const std::string& cause() const { return cause_; }
    Status WithCause(std::string cause) && {
        cause_ = std::move(cause);
        return std::move(*this);
    }

private:
    int32_t code_ = kSuccess;
    std::string context_;
    std::string cause_;
};

// The general codes of the three component numberings.
int32_t LibraryCodeToGeneral(int32_t libraryCode);
int32_t ReaderCodeToGeneral(int32_t readerCode);
int32_t WriterCodeToGeneral(int32_t writerCode);

// The text a result line gives a general code, or null for a code without one.
const char* ResultText(int32_t code);

// The process exit status for a result code: the code itself when an exit status can carry
// it, otherwise 51 (undefined error). Only a code passed on unconverted can be out of range;
// cut to its low byte it could read as success (256) or as another error.
int ExitStatusFor(int32_t code);

}  // namespace CorvidaUtils
