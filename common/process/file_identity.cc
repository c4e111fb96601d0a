#include "file_identity.h"

#include <sys/stat.h>

bool IsSameFile(const std::string& input, const std::string& output) {
    if (input == output) return true;
    struct stat in {};
    struct stat out {};
    if (stat(input.c_str(), &in) != 0 || stat(output.c_str(), &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

bool IsFileOnDescriptor(int fd, const std::string& output) {
    struct stat open {};
    struct stat out {};
    if (fstat(fd, &open) != 0 || stat(output.c_str(), &out) != 0) return false;
    // Only a regular file loses its contents to the output: /dev/null may be both.
    return S_ISREG(open.st_mode) && open.st_dev == out.st_dev && open.st_ino == out.st_ino;
}

bool DescriptorsShareAFile(int a, int b) {
    struct stat first {};
    struct stat second {};
    if (fstat(a, &first) != 0 || fstat(b, &second) != 0) return false;
    return S_ISREG(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool NamesTheFileOnDescriptor(const std::string& path, int fd) {
    struct stat open {};
    struct stat named {};
    if (fstat(fd, &open) != 0 || stat(path.c_str(), &named) != 0) return false;
    return !S_ISCHR(open.st_mode) && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}
