// The call trace: one line per call into the library, appended to a file that other
// processes may read while this one still runs.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace standin {

// One argument of a traced call. Cheap to build: nothing is formatted unless tracing is on.
class TraceArg {
public:
    TraceArg(int32_t value) : kind_(Kind::kSigned), signed_(value) {}
    TraceArg(int64_t value) : kind_(Kind::kSigned), signed_(value) {}
    TraceArg(uint64_t value) : kind_(Kind::kUnsigned), unsigned_(value) {}

    // A text, written as it is; a null text is written "(null)".
    static TraceArg Text(const char* text) { return TraceArg(Kind::kText, text); }
    // A text that is usually absent; a null text is written "null".
    static TraceArg OptionalText(const char* text) { return TraceArg(Kind::kOptionalText, text); }
    // The length of a text; a null text is written "(null)".
    static TraceArg TextLength(const char* text) { return TraceArg(Kind::kTextLength, text); }
    // The value a pointer points to; a null pointer is written "null".
    static TraceArg ValueAt(const uint64_t* value) {
        TraceArg arg(Kind::kValueAt, nullptr);
        arg.pointer_ = value;
        return arg;
    }

    void AppendTo(std::string& line) const;

private:
    enum class Kind { kSigned, kUnsigned, kText, kOptionalText, kTextLength, kValueAt };
    TraceArg(Kind kind, const char* text) : kind_(kind), text_(text) {}

    Kind kind_;
    int64_t signed_ = 0;
    uint64_t unsigned_ = 0;
    const char* text_ = nullptr;
    const uint64_t* pointer_ = nullptr;
};

// The line for one call: the name, then each argument after a single blank. A line break
// inside a text is written as the two characters \n so that every call stays one line.
std::string FormatTraceLine(std::string_view name, std::initializer_list<TraceArg> args);

// An open trace file. Each line goes out in one write to a file opened for appending, so
// lines of several writers never interleave and each is on disk once the call returns.
class TraceFile {
public:
    // Opens (creating if needed) the file; Valid() tells whether that worked.
    explicit TraceFile(const std::string& path);
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;
    ~TraceFile();

    bool Valid() const { return fd_ >= 0; }
    void WriteLine(std::string_view line) const;

private:
    int fd_ = -1;
};

}  // namespace standin
