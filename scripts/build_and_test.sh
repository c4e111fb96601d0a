#!/usr/bin/env bash
# Builds everything in build/ and runs every test, with the audio tools that some tests read
# the programs' files back with.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_dependencies.sh
scripts/install_audio_tools.sh
scripts/install_cluster_tools.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build -j"$(nproc)" --output-on-failure
