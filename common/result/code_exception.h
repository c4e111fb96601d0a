// The exception family that carries a general result code from a failed check to the
// single handler site of each tool's main, and the conversions of component codes.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <string>

namespace CorvidaUtils {

// Inherits std::exception non-publicly on purpose: a handler for std::exception must not
// catch it, so that only the handler for CodeException sees the result code.
class CodeException : private std::exception {
public:
    CodeException() = default;
    CodeException(const CodeException& other) = default;
    CodeException& operator=(const CodeException& other) = default;
    ~CodeException() override = default;

    const char* what() const noexcept override;
    virtual int32_t ConvertCode(int32_t componentCode) const;

    // Throws a CodeException carrying ConvertCode(code) and `context` unless `condition`.
    void Check(bool condition, int32_t code, const std::string& context);
    // Throws a CodeException carrying ConvertCode(result) and `context` unless the result
    // is the component's success code.
    void CheckResult(int32_t result, const std::string& context);
    // Throws a CodeException carrying ConvertCode(code) and `context`.
    [[noreturn]] void Raise(int32_t componentCode, const std::string& context);

    std::string message;
    // The object and the system's reason, when the system gave one (see system_cause.h).
    std::string cause;
    int32_t code = 1;
    int32_t successCode = 0;
};

// Results of the embedder library.
class ExceptionSdk : public CodeException {
public:
    int32_t ConvertCode(int32_t componentCode) const override;
};

// Results of the WAV reader.
class ExceptionWavParser : public CodeException {
public:
    int32_t ConvertCode(int32_t componentCode) const override;
};

// Results of the WAV writer, and of the listener's initialisation.
class ExceptionWavMuxer : public CodeException {
public:
    int32_t ConvertCode(int32_t componentCode) const override;
};

// General result code -> text of the result line.
void buildResultMessages(std::map<int32_t, std::string>& messages);

}  // namespace CorvidaUtils
