#!/usr/bin/env bash
# Installs what the Slurm job array's end-to-end test starts a one-node cluster with:
# Debian's slurmctld, slurmd, slurm-client and munge, and GNU parallel for the documented
# example over ssh logins. The test is skipped, with a message that says so, where they
# cannot be installed.
set -euo pipefail
. "$(dirname "$0")/install_optional_packages.sh"
need=()
for tool in slurmctld:slurmctld slurmd:slurmd sbatch:slurm-client munged:munge parallel:parallel; do
    command -v "${tool%%:*}" >/dev/null 2>&1 || need+=("${tool#*:}")
done
install_optional_packages "the Slurm job array test is skipped" "${need[@]}"
