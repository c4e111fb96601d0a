// The account's password read from a file (--passwordFile), so that it stands in no command
// line, shell history or unit file: the file's first line, without its line end ("\n" or
// "\r\n"). A relative path is taken in the directory of credentials that a service manager
// hands over (CREDENTIALS_DIRECTORY, as systemd's LoadCredential= sets it), when there is one.
#pragma once

#include <string>

#include "run_reporter.h"

// `credentialsDirectory` as the variable gives it, or null. A file that cannot be opened or
// read, or whose first line is longer than 64 KiB, raises code 44 with a cause that names the
// file; one that group or others may read is reported as a warning.
std::string ReadPasswordFile(const std::string& path, const char* credentialsDirectory,
                             RunReporter& reporter);
