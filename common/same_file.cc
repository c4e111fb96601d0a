#include "same_file.h"

#include <sys/stat.h>

bool IsSameFile(const std::string& input, const std::string& output) {
    if (input == output) return true;
    struct stat in {};
    struct stat out {};
    if (stat(input.c_str(), &in) != 0 || stat(output.c_str(), &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}
