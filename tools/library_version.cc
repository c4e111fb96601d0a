// Loads an embedder library on its own, the way the dynamic loader would for the programs,
// and prints the version text its GetVersion answers. scripts/check_library.sh runs it as a
// process of its own, so that a library that crashes while loading or in GetVersion cannot
// take the check down with it.
//
//   library-version LIBRARY
//
// Exit status and the one line it prints:
//   0  the version text, on standard output
//   2  usage
//   3  the library cannot be loaded: the loader's reason, on standard error
//   4  the library defines no Corvida::GetVersion()
//   5  GetVersion returned null
#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>

#include "pellion_audio_embedder.h"

namespace {

// The Itanium C++ ABI name of Corvida::GetVersion(), which the programs import.
constexpr const char* kGetVersionSymbol = "_ZN7Corvida10GetVersionEv";
using GetVersionFunction = decltype(&Corvida::GetVersion);
static_assert(std::is_same_v<GetVersionFunction, const char* (*)()>,
              "the symbol name above mangles this signature");

struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail(2, "usage: library-version LIBRARY");
    std::string path = argv[1];
    // A name without a slash would be searched for on the library path instead of opened.
    if (path.find('/') == std::string::npos) path = "./" + path;

    // RTLD_NOW: every library the embedder needs, and every symbol it takes from them,
    // must be found now, as they must when the programs start.
    const LibraryHandle library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        const char* reason = dlerror();
        return Fail(3, reason != nullptr ? reason : "dlopen failed without a reason");
    }
    dlerror();
    void* const symbol = dlsym(library.get(), kGetVersionSymbol);
    if (symbol == nullptr) return Fail(4, "the library defines no Corvida::GetVersion()");

    const auto getVersion = reinterpret_cast<GetVersionFunction>(symbol);
    const char* const version = getVersion();
    if (version == nullptr) return Fail(5, "Corvida::GetVersion() returned null");
    std::printf("%s\n", version);
    return std::fflush(stdout) == 0 ? 0 : Fail(2, "cannot write to standard output");
}
