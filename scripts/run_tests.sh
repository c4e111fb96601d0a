#!/usr/bin/env bash
# Runs part of the test suite of an existing build (scripts/build_and_test.sh builds and runs
# all of it):
#
#   scripts/run_tests.sh unit [ctest options...]   the in-process tests: seconds
#   scripts/run_tests.sh e2e  [ctest options...]   the end-to-end tests: the built programs,
#                                                  scripts and installation
#   scripts/run_tests.sh all  [ctest options...]
#
# The build directory is build/ unless BUILD_DIR says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
part="${1:-}"
[ "$#" -gt 0 ] && shift
build="${BUILD_DIR:-build}"
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "no build in $build/: run scripts/build_and_test.sh first" >&2
  exit 2
fi
case "$part" in
  unit | e2e) exec ctest --test-dir "$build" -j"$(nproc)" --output-on-failure -L "^$part\$" "$@" ;;
  all) exec ctest --test-dir "$build" -j"$(nproc)" --output-on-failure "$@" ;;
  *)
    echo "usage: $0 unit|e2e|all [ctest options...]" >&2
    exit 2
    ;;
esac
