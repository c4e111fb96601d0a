#!/usr/bin/env bash
# Installs the audio tools some end-to-end tests check the programs' files with: sox, ffmpeg
# (ffprobe) and libsndfile's programs (Debian packages sox, ffmpeg, sndfile-programs),
# strace, which shows that an output is synced before the result line, jq, which reads the
# programs' log for machines, and systemd-analyze (package systemd), which checks the
# shipped unit files offline. Tests whose tool is missing are skipped with a message that
# names it.
set -euo pipefail
. "$(dirname "$0")/install_optional_packages.sh"
need=()
command -v sox >/dev/null 2>&1 || need+=(sox)
command -v ffprobe >/dev/null 2>&1 || need+=(ffmpeg)
command -v sndfile-info >/dev/null 2>&1 || need+=(sndfile-programs)
command -v strace >/dev/null 2>&1 || need+=(strace)
command -v jq >/dev/null 2>&1 || need+=(jq)
command -v systemd-analyze >/dev/null 2>&1 || need+=(systemd)
install_optional_packages "the tests that read files back with them are skipped" "${need[@]}"
