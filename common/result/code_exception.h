// The exception that carries a failure (a Status) from where it is found to the one handler
// of a run or of a command-line reading, through the steps that have no value to return: the
// set-up of the embedder, the command-line readers, the sources' opening and reading.
#pragma once

#include <exception>
#include <new>
#include <utility>

#include "status.h"

namespace CorvidaUtils {

// Inherits std::exception non-publicly on purpose: a handler for std::exception must not
// catch it, so that only the handler for CodeException sees the result code.
class CodeException : private std::exception {
public:
    explicit CodeException(Status status) : status_(std::move(status)) {}

    const char* what() const noexcept override { return status_.context().c_str(); }
    const Status& status() const { return status_; }

private:
    Status status_;
};

[[noreturn]] void Raise(Status status);

inline void ThrowIfFailed(Status status) {
    if (!status.ok()) Raise(std::move(status));
}

// Runs `body` and tells how it went. A CodeException gives its Status; memory that could not
// be had gives code 5, as every failed allocation of a run does; any other standard exception
// gives code 1 and its what(); anything else code 1 and "Unsupported exception".
template <typename Body>
Status Catching(Body&& body) {
    try {
        body();
    } catch (const CodeException& e) {
        return e.status();
    } catch (const std::bad_alloc& e) {
        return Status(kMemoryError, e.what());
    } catch (const std::exception& e) {
        return Status(kGenericError, e.what());
    } catch (...) {
        return Status(kGenericError, "Unsupported exception");
    }
    return Status();
}

}  // namespace CorvidaUtils
