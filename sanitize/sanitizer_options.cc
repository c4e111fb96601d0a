// Built into every sanitized executable (-DPELLION_SANITIZE=...): the runtime options that
// make any finding fail the run that caused it, whoever starts the program. A finding ends
// the process with an exit status that no program uses: 86 for an address error or a leak,
// 87 for undefined behaviour, 88 for a data race. Options in the environment
// (ASAN_OPTIONS, UBSAN_OPTIONS, TSAN_OPTIONS) still take precedence.

#define PELLION_SANITIZER_OPTIONS(name) \
    extern "C" __attribute__((visibility("default"), used)) const char* name()

PELLION_SANITIZER_OPTIONS(__asan_default_options) {
    return "detect_leaks=1:exitcode=86:check_initialization_order=1:strict_init_order=1:"
           "detect_stack_use_after_return=1";
}

PELLION_SANITIZER_OPTIONS(__ubsan_default_options) {
    return "print_stacktrace=1:halt_on_error=1:exitcode=87";
}

PELLION_SANITIZER_OPTIONS(__tsan_default_options) {
    return "halt_on_error=1:exitcode=88:second_deadlock_stack=1";
}
