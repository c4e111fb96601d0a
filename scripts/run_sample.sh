#!/usr/bin/env bash
# Builds the programs, generates a 3-second 48 kHz stereo test signal and embeds it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_dependencies.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target pellion-embed pellion-embed-online make-test-signal
mkdir -p build/sample
build/tools/make-test-signal build/sample/test_signal.wav 3 2 16 48000
build/bin/pellion-embed build/sample/test_signal.wav build/sample/test_signal_marked.wav
echo "Watermarked audio: $(pwd)/build/sample/test_signal_marked.wav"
