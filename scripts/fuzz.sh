#!/usr/bin/env bash
# Fuzzes one libFuzzer target for a while, with AddressSanitizer and UBSan.
#
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
#
# TARGET is wav_reader (the WAV reader over arbitrary file bytes) or command_line (both
# programs' command lines, arguments split from the input on NUL bytes). The targets are
# built with clang in build-fuzz/. The run starts from the seeds in fuzz/corpus/TARGET/ and
# keeps what it finds in build-fuzz/corpus/TARGET/ (the seeds are not touched); a crash, leak
# or hang is written to build-fuzz/artifacts/TARGET/ and ends the run with a non-zero status.
# Reproduce one with: build-fuzz/fuzz/fuzz_TARGET build-fuzz/artifacts/TARGET/crash-...
# Runs on one core (-jobs=1 is implied).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$#" -lt 2 ]; then
  echo "usage: $0 wav_reader|command_line SECONDS [libFuzzer options...]" >&2
  exit 2
fi
target="$1"
seconds="$2"
shift 2
case "$target" in
  wav_reader) max_len=8192 ;;
  command_line) max_len=1024 ;;
  *) echo "unknown target: $target (wav_reader or command_line)" >&2; exit 2 ;;
esac

scripts/install_dependencies.sh
need=()
command -v clang++ >/dev/null 2>&1 || need+=(clang)
# libFuzzer and the sanitizer runtimes of clang.
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
  need+=(libclang-rt-dev)
if [ "${#need[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${need[@]}"
fi

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPELLION_SANITIZE=address,undefined -DPELLION_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j2 --target "fuzz_$target"

corpus="build-fuzz/corpus/$target"
artifacts="build-fuzz/artifacts/$target"
mkdir -p "$corpus" "$artifacts"
# The reader warns on standard error about files cut off in their headers; with thousands of
# runs a second that output is all the run would do. Sanitizer reports still get through.
quiet=()
[ "$target" = wav_reader ] && quiet=(-close_fd_mask=2)
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
exec "build-fuzz/fuzz/fuzz_$target" "$corpus" "fuzz/corpus/$target" \
  -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 "${quiet[@]}" "$@"
