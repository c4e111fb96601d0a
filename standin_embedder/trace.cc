#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace standin {
namespace {

void AppendEscaped(std::string& line, const char* text) {
    for (; *text != '\0'; ++text) {
        if (*text == '\n') {
            line += "\\n";
        } else if (*text == '\r') {
            line += "\\r";
        } else {
            line += *text;
        }
    }
}

}  // namespace

void TraceArg::AppendTo(std::string& line) const {
    switch (kind_) {
        case Kind::kSigned:
            line += std::to_string(signed_);
            break;
        case Kind::kUnsigned:
            line += std::to_string(unsigned_);
            break;
        case Kind::kText:
            if (text_ == nullptr) {
                line += "(null)";
            } else {
                AppendEscaped(line, text_);
            }
            break;
        case Kind::kOptionalText:
            if (text_ == nullptr) {
                line += "null";
            } else {
                AppendEscaped(line, text_);
            }
            break;
        case Kind::kTextLength:
            line += text_ == nullptr ? std::string("(null)") : std::to_string(std::strlen(text_));
            break;
        case Kind::kValueAt:
            line += pointer_ == nullptr ? std::string("null") : std::to_string(*pointer_);
            break;
    }
}

std::string FormatTraceLine(std::string_view name, std::initializer_list<TraceArg> args) {
    std::string line(name);
    for (const TraceArg& arg : args) {
        line += ' ';
        arg.AppendTo(line);
    }
    line += '\n';
    return line;
}

TraceFile::TraceFile(const std::string& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}

TraceFile::~TraceFile() {
    if (fd_ >= 0) ::close(fd_);
}

void TraceFile::WriteLine(std::string_view line) const {
    if (fd_ < 0) return;
    const char* next = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace standin
