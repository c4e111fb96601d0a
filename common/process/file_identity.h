#pragma once

#include <string>

// True when `output` names the file `input` is: the same path, or the same device and inode
// (a link, another spelling of the path). Writing the output would then destroy the input.
bool IsSameFile(const std::string& input, const std::string& output);

// True when `output` names the regular file open on descriptor `fd`, such as standard input
// redirected from a file.
bool IsFileOnDescriptor(int fd, const std::string& output);

// True when descriptors `a` and `b` are open on one regular file, such as standard input and
// standard output both redirected to it.
bool DescriptorsShareAFile(int a, int b);

// True when `path` names the file, pipe or socket open on descriptor `fd`, whatever the
// spelling (/dev/stdout, /proc/self/fd/1, the file standard output was redirected to). A
// device is never taken for one: a terminal or /dev/null loses nothing to a shared write.
bool NamesTheFileOnDescriptor(const std::string& path, int fd);
