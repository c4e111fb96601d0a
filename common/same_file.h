#pragma once

#include <string>

// True when `output` names the file `input` is: the same path, or the same device and inode
// (a link, another spelling of the path). Writing the output would then destroy the input.
bool IsSameFile(const std::string& input, const std::string& output);
