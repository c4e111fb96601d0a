#include "password_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "code_exception.h"
#include "result_codes.h"
#include "stdio_file.h"
#include "system_cause.h"

namespace {

using CorvidaUtils::kIoError;
using CorvidaUtils::Raise;
using CorvidaUtils::Status;

// No password comes near it; /dev/zero or a wrong file would otherwise fill the memory.
constexpr size_t kMaxLineBytes = size_t{64} << 10;

}  // namespace

std::string ReadPasswordFile(const std::string& path, const char* credentialsDirectory,
                             RunReporter& reporter) {
    const bool inCredentials = credentialsDirectory != nullptr && *credentialsDirectory != '\0' &&
                               !path.empty() && path[0] != '/';
    const std::string file = inCredentials ? std::string(credentialsDirectory) + "/" + path : path;
    const StdioFile stream(std::fopen(file.c_str(), "rbe"));
    if (stream == nullptr) {
        const int error = errno;
        Raise(Status(kIoError, "Unable to open password file",
                     SystemCause("cannot open password file '" + file + "'", error)));
    }
    // Unbuffered: no copy of the password stays behind in a stdio buffer.
    std::setvbuf(stream.get(), nullptr, _IONBF, 0);

    struct stat status {};
    if (fstat(fileno(stream.get()), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        reporter.Warning("Warning: the password file '" + file +
                         "' is readable by group or others: chmod go-rwx '" + file + "'");
    }

    std::string line;
    char chunk[4096];
    size_t n = 0;
    while (line.find('\n') == std::string::npos && line.size() <= kMaxLineBytes &&
           (n = std::fread(chunk, 1, sizeof chunk, stream.get())) > 0) {
        line.append(chunk, n);
    }
    if (std::ferror(stream.get())) {
        const int error = errno;
        Raise(Status(kIoError, "Unable to read password file",
                     SystemCause("cannot read password file '" + file + "'", error)));
    }
    line.resize(std::min(line.find('\n'), line.size()));
    if (line.size() > kMaxLineBytes) {
        Raise(Status(kIoError, "Unable to read password file",
                     "the first line of password file '" + file + "' is longer than 64 KiB"));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
