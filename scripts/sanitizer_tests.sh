#!/usr/bin/env bash
# Builds everything with sanitizers and runs the whole test suite under them:
#   asan: AddressSanitizer with LeakSanitizer and UndefinedBehaviorSanitizer (build-asan/)
#   tsan: ThreadSanitizer (build-tsan/)
#
#   scripts/sanitizer_tests.sh [asan] [tsan]     (both when none is named)
#
# The programs, the stand-in library and the tests are all sanitized, and every sanitized
# executable carries options (sanitize/sanitizer_options.cc) that make a finding end the
# process with its own exit status: 86 address error or leak, 87 undefined behaviour, 88
# data race. The end-to-end tests check their programs' exit status and standard error, so
# a finding in a child process fails the test that ran it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_dependencies.sh

jobs=2
configs=("$@")
[ "${#configs[@]}" -gt 0 ] || configs=(asan tsan)

# ThreadSanitizer maps its shadow memory at fixed addresses; with more address randomisation
# than it expects (vm.mmap_rnd_bits above 28 on some kernels) it stops with "unexpected memory
# mapping". Then the tests run without randomisation for the test process and its children.
tsan_runner() {
  local probe="build-tsan/bin/pellion-embed"
  if "$probe" -h >/dev/null 2>&1; then
    return 0
  fi
  if setarch "$(uname -m)" -R "$probe" -h >/dev/null 2>&1; then
    echo "ThreadSanitizer needs address randomisation off here: running under setarch -R" >&2
    tsan_prefix=(setarch "$(uname -m)" -R)
    return 0
  fi
  if [ "$(id -u)" -eq 0 ] && [ -w /proc/sys/vm/mmap_rnd_bits ]; then
    echo "ThreadSanitizer fails here: lowering vm.mmap_rnd_bits to 28" >&2
    echo 28 >/proc/sys/vm/mmap_rnd_bits
    "$probe" -h >/dev/null 2>&1 && return 0
  fi
  echo "ThreadSanitizer cannot run on this machine:" >&2
  "$probe" -h >/dev/null || true
  return 1
}

# ThreadSanitizer holds a signal back while the thread it lands on is blocked inside the C
# library (fread's read of standard input, fwrite's write to a full pipe) and runs the handler
# only when the thread gets back into instrumented code: the stop signal then cannot end a
# read that waits for input. The tests that depend on that timing run in the other builds.
tsan_exclude='StopSignalWhileStandardInputWaits|StopSignalLandingOnALibraryThread|StandardInputThatSendsNothing'

for config in "${configs[@]}"; do
  case "$config" in
    asan) sanitize="address,undefined" ;;
    tsan) sanitize="thread" ;;
    *) echo "unknown configuration: $config (asan or tsan)" >&2; exit 2 ;;
  esac
  dir="build-$config"
  echo "=== $config: building in $dir"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLION_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j"$jobs"
  tsan_prefix=()
  exclude=()
  if [ "$config" = tsan ]; then
    tsan_runner
    exclude=(-E "$tsan_exclude")
  fi
  echo "=== $config: running the tests"
  "${tsan_prefix[@]}" ctest --test-dir "$dir" -j"$jobs" --output-on-failure "${exclude[@]}"
done
