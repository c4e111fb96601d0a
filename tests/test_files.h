// Files and directories of the tests: a work directory per test, whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wav_fixture.h"

// A directory of its own per test, removed with everything in it.
class WorkDir {
public:
    WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    ~WorkDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

ByteVector ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const ByteVector& bytes);
void WriteWholeFile(const std::string& path, const std::string& text);

// The lines of a text file, such as a stand-in trace; empty when there is none.
std::vector<std::string> ReadLines(const std::string& path);
