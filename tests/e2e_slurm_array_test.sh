#!/usr/bin/env bash
# The shipped Slurm job array (deploy/slurm/pellion-embed-batch.sbatch) on a one-node cluster
# that this test starts in a scratch directory: munged, slurmctld and slurmd, tracked by PID
# and stopped at the end. Four tasks embed a tree once between them; submitted again with a
# bad file added, they skip what is done and the array's status is the batch's 60.
#
# usage: e2e_slurm_array_test.sh SOURCE_DIR BIN_DIR MAKE_TEST_SIGNAL
# Exits 77 (skipped) where the cluster's packages are missing or the test is not root.
set -euo pipefail
source_dir="$1"
bin_dir="$2"
make_test_signal="$3"
skip() {
    echo "skipped: $*"
    exit 77
}
fail() {
    echo "e2e_slurm_array_test: $*" >&2
    for log in "$scratch"/*.log "$scratch"/job/*.log; do
        [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }
    done
    exit 1
}
for tool in munged slurmctld slurmd sbatch sinfo; do
    command -v "$tool" >/dev/null ||
        skip "no $tool: scripts/install_cluster_tools.sh installs slurmctld slurmd slurm-client munge"
done
[ "$(id -u)" -eq 0 ] || skip "the one-node cluster runs its daemons as root and munge"

scratch="$(mktemp -d /tmp/pellion-slurm.XXXXXX)"
chmod 755 "$scratch"
pids=()
stop_cluster() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap stop_cluster EXIT

# munge: a key and a socket of this test's own, beside no other munged.
install -d -o munge -g munge -m 0755 "$scratch/munge"
head -c 1024 /dev/urandom >"$scratch/munge/munge.key"
chown munge:munge "$scratch/munge/munge.key"
chmod 0600 "$scratch/munge/munge.key"
setpriv --reuid=munge --regid=munge --init-groups munged --foreground \
    --key-file="$scratch/munge/munge.key" --socket="$scratch/munge/socket" \
    --pid-file="$scratch/munge/pid" --seed-file="$scratch/munge/seed" \
    --log-file="$scratch/munge/log" 2>"$scratch/munged.log" &
pids+=("$!")

# Ports of this run's own, so that no other cluster on the machine answers.
port=$((20000 + ($$ % 10000) * 2))
node="$(hostname -s)"
export SLURM_CONF="$scratch/slurm.conf"
cat >"$SLURM_CONF" <<CONF
ClusterName=pellion-test
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$scratch/munge/socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MinJobAge=5
SchedulerParameters=batch_sched_delay=0
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=batch Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
mkdir -p "$scratch/state" "$scratch/spool" "$scratch/job"
for _ in $(seq 100); do [ -S "$scratch/munge/socket" ] && break; sleep 0.05; done
[ -S "$scratch/munge/socket" ] || fail "munged did not start"
slurmctld -D -i >/dev/null 2>&1 &
pids+=("$!")
slurmd -D >/dev/null 2>&1 &
pids+=("$!")
state=""
for _ in $(seq 300); do
    state="$(timeout 5 sinfo -h -o %t 2>/dev/null || true)"
    [ "$state" = idle ] && break
    sleep 0.1
done
[ "$state" = idle ] || fail "the node is not idle after 30 s (state '$state')"

tree="$scratch/tree"
for i in $(seq 12); do
    mkdir -p "$tree/in/day$((i % 3))"
    "$make_test_signal" "$tree/in/day$((i % 3))/take$i.wav" 0.2 >/dev/null
done
submit() {
    local status=0
    PELLION_BIN="$bin_dir" timeout 120 sbatch --quiet --wait --array=0-3 --chdir="$scratch/job" \
        --output="$scratch/job/task-%a.log" --cpus-per-task=1 \
        "$source_dir/deploy/slurm/pellion-embed-batch.sbatch" "$tree/in" "$tree/out" || status=$?
    echo "$status"
}
# outcome OUTCOME: the inputs the array's summaries give that outcome, one a line, sorted.
outcome() {
    cat "$scratch"/job/pellion-embed-batch-*.jsonl | grep "\"outcome\":\"$1\"" |
        sed 's/^{"input":"\([^"]*\)".*/\1/' | sort
}

[ "$(submit)" = 0 ] || fail "the array failed"
inputs="$(cd "$tree/in" && find . -name '*.wav' | sed "s|^\.|$tree/in|" | sort)"
[ "$(outcome embedded)" = "$inputs" ] || fail "the tasks did not embed each file once:
$(outcome embedded)"
[ "$(cd "$tree/out" && find . -type f -name '*.wav' | wc -l)" = 12 ] || fail "outputs missing"

rm -f "$scratch"/job/*.jsonl
echo "not a WAV file" >"$tree/in/day1/bad.wav"
[ "$(submit)" = 60 ] || fail "the array with a bad file did not end with 60"
[ "$(outcome skipped)" = "$inputs" ] || fail "the second array did not skip what was done"
[ "$(outcome failed)" = "$tree/in/day1/bad.wav" ] || fail "the bad file is not the failed one"
echo "e2e_slurm_array_test: ok"
