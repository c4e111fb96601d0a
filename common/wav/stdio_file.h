// Ownership of a C stream: the stream is closed when its owner goes away.
#pragma once

#include <cstdio>
#include <memory>

struct StdioFileCloser {
    void operator()(std::FILE* file) const {
        if (file != nullptr) std::fclose(file);
    }
};

using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

// Closes the stream now and tells whether everything buffered reached the file.
inline bool CloseStdioFile(StdioFile& file) {
    std::FILE* const raw = file.release();
    return raw == nullptr || std::fclose(raw) == 0;
}
