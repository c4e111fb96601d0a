// A test-only preload library that makes one chosen allocation fail, so that the programs'
// handling of an exhausted heap can be driven through a real run.
//
//   LD_PRELOAD=libpellion_alloc_fault.so PELLION_TEST_FAIL_ALLOC=SIZE[@N] program ...
//
// The Nth (default: first) call of malloc, calloc or operator new that asks for exactly SIZE
// bytes gets no memory; every other allocation is served as usual. calloc counts the product
// of its arguments. The variable is read at the first allocation that follows the library's
// constructor; a variable that cannot be read fails nothing.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
}

namespace {

std::atomic<bool> armed{false};
size_t failSize = 0;
std::atomic<long> remaining{0};

// Parses "SIZE" or "SIZE@N" without allocating.
bool ParseRule(const char* text, size_t& size, long& nth) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    const unsigned long long parsedSize = std::strtoull(text, &end, 10);
    if (end == text) return false;
    nth = 1;
    if (*end == '@') {
        const char* number = end + 1;
        nth = std::strtol(number, &end, 10);
        if (end == number || nth < 1) return false;
    }
    if (*end != '\0') return false;
    size = static_cast<size_t>(parsedSize);
    return true;
}

__attribute__((constructor)) void ReadRule() {
    size_t size = 0;
    long nth = 0;
    if (!ParseRule(std::getenv("PELLION_TEST_FAIL_ALLOC"), size, nth)) return;
    failSize = size;
    remaining.store(nth);
    armed.store(true);
}

bool ShouldFail(size_t size) {
    if (!armed.load(std::memory_order_relaxed) || size != failSize) return false;
    return remaining.fetch_sub(1) == 1;
}

}  // namespace

extern "C" void* malloc(size_t size) {
    if (ShouldFail(size)) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    // An overflowing product is left to the C library to refuse.
    if (size == 0 || count <= static_cast<size_t>(-1) / size) {
        if (ShouldFail(count * size)) {
            errno = ENOMEM;
            return nullptr;
        }
    }
    return __libc_calloc(count, size);
}
