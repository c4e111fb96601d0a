#!/usr/bin/env bash
# Measures pellion-embed on this machine and prints each figure beside its target:
#
#   1. pacing: a WAV file fed at the pace of real time, against the floor (bench-floor: read
#      2048 bytes, one absolute sleep, write 2048 bytes; and the same with a second thread
#      taking each block), run in turn in the same rounds: CPU per second of audio of the
#      feeding thread, of the library's threads and of the whole process, voluntary context
#      switches per block, lateness of each block's hand-over, wall time;
#   2. unpaced throughput from standard input to standard output, as a ratio to
#      `dd bs=2048` on the same pipe, measured in turn;
#   3. peak resident memory for a minute and for an hour of standard input;
#   4. start-up: from exec to the first watermarked byte on standard output;
#   5. capacity: the most paced runs the machine carries at once, each block on time;
#   6. unpaced WAV to WAV against sox copying the same file, and the final sync;
#   7. a batch: pellion-embed-batch --jobs=2 on 50 files against `parallel -j2 sox` copying
#      the same files (the floor of reading and writing them), and --jobs=1 against --jobs=2,
#      with the CPU each child uses;
#   8. a live chain's added latency beside cat, with and without --on-embedder-failure=bypass,
#      and what the switch to bypass adds to the output's delay when the embedder fails.
#
# usage: bench/run_benchmarks.sh [--quick] [--only=LIST] [--build-dir=DIR] [--rounds=N]
#                                [--paced-seconds=S] [--capacity-from=N] [--capacity-max=N]
#
#   --quick          shorter inputs, fewer rounds and tries (about 4 minutes instead of 20)
#   --only           the figures to measure, by number, comma-separated (default: all, 1 to 8)
#   --build-dir      where to build (default: build-bench in the source tree); the build uses
#                    the project's default type, RelWithDebInfo, like scripts/build_and_test.sh
#   --rounds         rounds of the pacing comparison (default 6; --quick 2)
#   --paced-seconds  length of the paced file, a multiple of 4 (default 20; --quick 12)
#   --capacity-from  the first number of concurrent runs to try (default 100); the search goes
#                    up by 25 while a step passes and down by 25 while it fails
#   --capacity-max   the highest number of concurrent runs to try (default 400)
#
# Nothing here fails on a figure: the script reports, it does not judge a build. The load
# average and the machine's busy share (from /proc/stat) are printed with every section:
# figures taken while other work loads the machine are not the machine's.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build-bench"
QUICK=0
ONLY="1,2,3,4,5,6,7"
ROUNDS=""
CAPACITY_FROM=100
CAPACITY_MAX=400
PACED_OPTION=""
for arg in "$@"; do
    case "$arg" in
        --quick) QUICK=1 ;;
        --build-dir=*) BUILD="${arg#--build-dir=}" ;;
        --only=*) ONLY="${arg#--only=}" ;;
        --rounds=*) ROUNDS="${arg#--rounds=}" ;;
        --paced-seconds=*) PACED_OPTION="${arg#--paced-seconds=}" ;;
        --capacity-from=*) CAPACITY_FROM="${arg#--capacity-from=}" ;;
        --capacity-max=*) CAPACITY_MAX="${arg#--capacity-max=}" ;;
        -h | --help)
            sed -n '2,30p' "$0" | sed 's/^# \{0,1\}//'
            exit 0
            ;;
        *)
            echo "unknown argument: $arg (try --help)" >&2
            exit 2
            ;;
    esac
done

if [ "$QUICK" -eq 1 ]; then
    PACED_SECONDS=12
    ROUNDS="${ROUNDS:-2}"
    THROUGHPUT_SECONDS=600
    THROUGHPUT_REPEATS=3
    STARTUP_REPEATS=5
    CAPACITY_SECONDS=8
    CAPACITY_TRIES=1
    BATCH_SECONDS=10
else
    PACED_SECONDS=20
    ROUNDS="${ROUNDS:-6}"
    THROUGHPUT_SECONDS=3600
    THROUGHPUT_REPEATS=5
    STARTUP_REPEATS=11
    CAPACITY_SECONDS=20
    CAPACITY_TRIES=3
    BATCH_SECONDS=30
fi
BATCH_FILES=50
# Durations are multiples of 4 s, a whole number of 512-frame blocks, so that every block of
# the floor and of the program is a whole one.
PACED_SECONDS="${PACED_OPTION:-$PACED_SECONDS}"
CAPACITY_STEP=25
# A run keeps up when it ends within this much of its audio's duration ...
CAPACITY_END_TOLERANCE=0.25
# ... and when, over all blocks of all runs, the 99.9th percentile of lateness is under one
# 512-frame block.
BLOCK_US=10666.7
# Pause between two starts of the concurrent runs.
CAPACITY_STAGGER=0.01

RAW_OPTIONS=(--stdin-sampling-rate=48000 --stdin-nb-channels=2 --stdin-bits-per-sample=16
    --stdin-endianness=le)

# --- build --------------------------------------------------------------------------------

echo "Building in $BUILD ..."
cmake -S "$ROOT" -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j2 --target pellion-embed make-test-signal bench-pcm-source bench-run \
    bench-floor bench-lateness bench-release-shim pellion-embed-batch bench-chain-latency >/dev/null
EMBED="$BUILD/bin/pellion-embed"
BATCH="$BUILD/bin/pellion-embed-batch"
SIGNAL="$BUILD/tools/make-test-signal"
SOURCE="$BUILD/bench/bench-pcm-source"
MEASURE="$BUILD/bench/bench-run"
FLOOR="$BUILD/bench/bench-floor"
LATENESS="$BUILD/bench/bench-lateness"
SHIM="$BUILD/bench/libbench-release-shim.so"
CHAIN="$BUILD/bench/bench-chain-latency"

# Outputs of the concurrent runs add up to gigabytes: keep them in memory when possible.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    WORK="$(mktemp -d /dev/shm/pellion-bench.XXXXXX)"
else
    WORK="$(mktemp -d)"
fi
trap 'rm -rf "$WORK"' EXIT

# --- helpers ------------------------------------------------------------------------------

# want N: whether figure N is to be measured.
want() { [[ ",$ONLY," == *",$1,"* ]]; }

# field NAME "key=value ..." prints the value of NAME.
field() {
    local pair
    for pair in $2; do
        if [ "${pair%%=*}" = "$1" ]; then
            echo "${pair#*=}"
            return
        fi
    done
    echo "missing"
}

calc() { awk "BEGIN { printf \"%s\", $1 }"; }

# verdict CONDITION: "ok" or "MISSED" for an awk condition.
verdict() { awk "BEGIN { print (($1) ? \"ok\" : \"MISSED\") }"; }

# spread FORMAT VALUES...: "min / median / max" of the values, each printed with FORMAT.
spread() {
    local format="$1"
    shift
    printf '%s\n' "$@" | sort -g | awk -v f="$format" '
        { v[NR] = $1 }
        END { printf f " / " f " / " f, v[1], v[int((NR + 1) / 2)], v[NR] }'
}

# median VALUES...
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# add ARRAY VALUE: appends VALUE to the array named ARRAY.
add() {
    local -n list="$1"
    list+=("$2")
}

# row LABEL VALUE TARGET VERDICT
row() { printf '  %-46s %-24s target %-26s %s\n' "$1" "$2" "$3" "$4"; }

load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# The machine's CPU counters: busy and total jiffies over all cores.
cpu_counters() {
    awk '/^cpu / { busy = $2 + $3 + $4 + $7 + $8 + $9; print busy, busy + $5 + $6 }' /proc/stat
}

# busy_share "BUSY TOTAL" "BUSY TOTAL": the percentage of the machine busy in between.
busy_share() {
    local b0 t0 b1 t1
    read -r b0 t0 <<<"$1"
    read -r b1 t1 <<<"$2"
    calc "($t1 > $t0) ? 100 * ($b1 - $b0) / ($t1 - $t0) : 0"
}

# --- machine ------------------------------------------------------------------------------

CPU_MODEL="$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo
echo "Machine: $(nproc) cores, ${CPU_MODEL:-unknown CPU}, $(uname -sr)"
echo "Date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Load average at start: $(load_average)"
[ "$QUICK" -eq 1 ] && echo "Quick mode: shorter inputs, fewer rounds and tries."
echo

# --- 1. pacing against the floor ----------------------------------------------------------

# pace_run KIND REPORT LATENESS_FILE: one paced run of the kind, its report line appended to
# REPORT; prints bench-run's line.
pace_run() {
    local kind="$1" report="$2" lateness="$3"
    case "$kind" in
        floor1 | floor2)
            "$MEASURE" --stdout=/dev/null -- "$FLOOR" "--threads=${kind#floor}" \
                "--lateness=$lateness" "$WORK/paced.wav" "$WORK/paced-out.wav" "$report"
            ;;
        program)
            PELLION_BENCH_REPORT="$report" PELLION_BENCH_LATENESS="$lateness" \
                LD_PRELOAD="$SHIM" "$MEASURE" --stdout=/dev/null -- \
                "$EMBED" "$WORK/paced.wav" "$WORK/paced-out.wav"
            ;;
    esac
    rm -f "$WORK/paced-out.wav"
}

# pace_row LABEL FORMAT METRIC FLOOR TARGET_TEXT CONDITION
#   METRIC: the name of an array of each kind ("${kind}_${METRIC}", one value per round);
#   FLOOR: floor1 or floor2 to compare with, "-" for a figure whose ratio means nothing;
#   CONDITION: an awk condition on r (the median of the rounds' ratios) and p (the program's
#   median), or empty. Each ratio compares runs made one after the other in the same round,
#   so that a change of the machine's load between rounds does not count as a difference.
pace_row() {
    local label="$1" format="$2" metric="$3" floor="$4" target="$5" condition="$6"
    local -n program_values="program_$metric"
    local -n floor_values="${floor/-/floor1}_$metric"
    local p f r="" ratios=() i v=""
    p="$(median "${program_values[@]}")"
    if [ "$floor" != "-" ]; then
        for i in "${!program_values[@]}"; do
            f="${floor_values[$i]}"
            ratios+=("$(calc "($f != 0) ? ${program_values[$i]} / $f : 0")")
        done
        r="$(median "${ratios[@]}")"
        label="$label (${floor/floor/floor })"
    fi
    if [ -n "$condition" ]; then
        v="$(verdict "$(echo "$condition" | sed "s/\br\b/${r:-0}/g; s/\bp\b/$p/g")")"
    fi
    printf '  %-46s %-28s %-28s %-18s %-20s %s\n' "$label" \
        "$(spread "$format" "${program_values[@]}")" "$(spread "$format" "${floor_values[@]}")" \
        "${r:+$(spread "%.2f" "${ratios[@]}")}" "$target" "$v"
}

if want 1; then
    echo "1. Pacing: a ${PACED_SECONDS}-second 48 kHz stereo 16-bit WAV file to a WAV file, console" \
        "to /dev/null; $ROUNDS rounds, each running floor 1, floor 2 and pellion-embed in turn"
    echo "   floor 1: read 2048 bytes, one clock_nanosleep to the block's absolute instant, write" \
        "2048 bytes (bench-floor); floor 2: the same, a second thread writing each block"
    echo "   pellion-embed runs with the stand-in library and a preload shim that records each" \
        "block's hand-over (AddAudioBuffer) and the threads' costs;"
    echo "   CPU is per second of audio, from the first block to the end of feeding, but for the" \
        "rusage row (the whole run); ratios are the program's over the floor's in each round"
    "$SIGNAL" "$WORK/paced.wav" "$PACED_SECONDS" 2 16 48000
    kinds=(floor1 floor2 program)
    for kind in "${kinds[@]}"; do
        declare -a "${kind}_whole=()" "${kind}_threads=()" "${kind}_feed=()" "${kind}_other=()" \
            "${kind}_vcsw=()" "${kind}_p50=()" "${kind}_p99=()" "${kind}_p999=()" "${kind}_max=()" \
            "${kind}_min=()" "${kind}_wall=()"
        : >"$WORK/lateness-$kind"
    done
    load_before="$(load_average)"
    counters_before="$(cpu_counters)"
    for round in $(seq "$ROUNDS"); do
        # A different order in each round, so that no kind always follows the same one.
        for i in 0 1 2; do
            kind="${kinds[$(((i + round) % 3))]}"
            : >"$WORK/report"
            result="$(pace_run "$kind" "$WORK/report" "$WORK/lateness-$kind")"
            report="$(cat "$WORK/report")"
            [ "$(field status "$result")" = 0 ] ||
                echo "  ($kind failed with status $(field status "$result"))"
            audio="$(field audio_s "$report")"
            blocks="$(field released "$report")"
            feed_ns="$(field feed_cpu_ns "$report")"
            other_ns="$(field other_cpu_ns "$report")"
            run_cpu="$(calc "$(field user_s "$result") + $(field sys_s "$result")")"
            add "${kind}_whole" "$(calc "100 * $run_cpu / $PACED_SECONDS")"
            add "${kind}_feed" "$(calc "100 * $feed_ns / 1e9 / $audio")"
            add "${kind}_other" "$(calc "100 * $other_ns / 1e9 / $audio")"
            add "${kind}_threads" "$(calc "100 * ($feed_ns + $other_ns) / 1e9 / $audio")"
            add "${kind}_vcsw" "$(calc "$(field feed_vcsw "$report") / ($blocks - 1)")"
            for key in p50 p99 p999 max min; do
                add "${kind}_${key}" "$(field "late_${key}_us" "$report")"
            done
            add "${kind}_wall" \
                "$(calc "100 * ($(field wall_s "$result") - $PACED_SECONDS) / $PACED_SECONDS")"
        done
    done
    busy="$(busy_share "$counters_before" "$(cpu_counters)")"
    echo "   load average $load_before before, $(load_average) after; machine $(printf '%.1f' \
        "$busy")% busy over the section"
    printf '  %-46s %-28s %-28s %-18s %s\n' "figure (against)" "pellion-embed min/med/max" \
        "floor min/med/max" "ratio min/med/max" "target (on medians)"
    pace_row "feeding thread CPU, % of a core" "%.3f" feed floor1 "<= 1.10x floor 1" "r <= 1.10"
    pace_row "feeding thread voluntary switches per block" "%.3f" vcsw floor1 "<= 1.05" \
        "p <= 1.05"
    pace_row "library threads CPU, % of a core" "%.3f" other floor2 "" ""
    pace_row "whole process CPU, % of a core" "%.3f" threads floor2 "<= 1.15x floor 2" "r <= 1.15"
    pace_row "whole run's CPU (rusage), % of a core" "%.3f" whole floor2 "" ""
    pace_row "lateness p50, us" "%.1f" p50 floor1 "<= 1.5x floor 1" "r <= 1.5"
    pace_row "lateness p99, us" "%.1f" p99 floor1 "<= 1500 us" "p <= 1500"
    pace_row "lateness p99.9, us" "%.1f" p999 floor1 "" ""
    pace_row "lateness max, us" "%.1f" max floor1 "" ""
    pace_row "earliest hand-over, us" "%.1f" min - ">= -2 (never early)" "p >= -2"
    pace_row "wall time against duration, %" "%+.3f" wall - "within 0.2%" "p <= 0.2 && p >= -0.2"
    echo "   floor 1 / floor 2 / pellion-embed over all rounds, lateness in us:"
    for kind in "${kinds[@]}"; do
        pooled="$("$LATENESS" "$BLOCK_US" "$WORK/lateness-$kind")"
        printf '   %-8s %s\n' "$kind:" "$pooled"
    done
    echo
fi

# --- 2. throughput ------------------------------------------------------------------------

if want 2; then
    echo "2. Unpaced throughput, stdin to stdout, ${THROUGHPUT_SECONDS} s of 48 kHz stereo 16-bit" \
        "(best of $THROUGHPUT_REPEATS, dd and pellion-embed in turn)"
    load_before="$(load_average)"
    counters_before="$(cpu_counters)"
    best_dd=""
    best_embed=""
    dd_cpu=()
    embed_cpu=()
    hour_rss=""
    for _ in $(seq "$THROUGHPUT_REPEATS"); do
        result="$("$SOURCE" "$THROUGHPUT_SECONDS" 2 16 |
            "$MEASURE" --stdout=/dev/null -- dd bs=2048 of=/dev/null status=none)"
        wall="$(field wall_s "$result")"
        dd_cpu+=("$(calc "$(field user_s "$result") + $(field sys_s "$result")")")
        if [ -z "$best_dd" ] || [ "$(verdict "$wall < $best_dd")" = ok ]; then best_dd="$wall"; fi
        result="$("$SOURCE" "$THROUGHPUT_SECONDS" 2 16 |
            "$MEASURE" --stdout=/dev/null -- "$EMBED" stdin stdout "${RAW_OPTIONS[@]}" 2>/dev/null)"
        [ "$(field status "$result")" = 0 ] || echo "  (a run failed with status $(field status "$result"))"
        wall="$(field wall_s "$result")"
        embed_cpu+=("$(calc "$(field user_s "$result") + $(field sys_s "$result")")")
        if [ -z "$best_embed" ] || [ "$(verdict "$wall < $best_embed")" = ok ]; then
            best_embed="$wall"
        fi
        rss="$(field maxrss_kib "$result")"
        if [ -z "$hour_rss" ] || [ "$rss" -gt "$hour_rss" ]; then hour_rss="$rss"; fi
    done
    busy="$(busy_share "$counters_before" "$(cpu_counters)")"
    echo "   load average $load_before before, $(load_average) after; machine $(printf '%.1f' \
        "$busy")% busy over the section"
    embed_speed="$(calc "$THROUGHPUT_SECONDS / $best_embed")"
    dd_speed="$(calc "$THROUGHPUT_SECONDS / $best_dd")"
    ratio="$(calc "$best_dd / $best_embed")"
    cpu_ratio="$(calc "$(median "${embed_cpu[@]}") / $(median "${dd_cpu[@]}")")"
    row "pellion-embed" "$(printf '%.0f s of audio per s' "$embed_speed")" "" ""
    row "dd bs=2048 on the same pipe" "$(printf '%.0f s of audio per s' "$dd_speed")" "" ""
    row "pellion-embed against dd (best against best)" "$(printf '%.2f' "$ratio")" ">= 1.0" \
        "$(verdict "$ratio >= 1.0")"
    row "CPU time against dd's (medians)" "$(printf '%.2f' "$cpu_ratio")" "" ""
    echo
fi

# --- 3. memory ----------------------------------------------------------------------------

if want 3; then
    echo "3. Peak resident memory, stdin to stdout, input generated on the fly"
    minute_rss=0
    for _ in 1 2 3; do
        result="$("$SOURCE" 60 2 16 |
            "$MEASURE" --stdout=/dev/null -- "$EMBED" stdin stdout "${RAW_OPTIONS[@]}" 2>/dev/null)"
        rss="$(field maxrss_kib "$result")"
        if [ "$rss" -gt "$minute_rss" ]; then minute_rss="$rss"; fi
    done
    # The throughput runs above may already have piped an hour through.
    if [ -z "${hour_rss:-}" ] || [ "$THROUGHPUT_SECONDS" -ne 3600 ]; then
        result="$("$SOURCE" 3600 2 16 |
            "$MEASURE" --stdout=/dev/null -- "$EMBED" stdin stdout "${RAW_OPTIONS[@]}" 2>/dev/null)"
        hour_rss="$(field maxrss_kib "$result")"
    fi
    growth="$(calc "$hour_rss - $minute_rss")"
    row "one minute (highest of 3)" "$(printf '%.2f MiB' "$(calc "$minute_rss / 1024")")" \
        "< 8 MiB" "$(verdict "$minute_rss < 8192")"
    row "one hour" "$(printf '%.2f MiB' "$(calc "$hour_rss / 1024")")" "< 8 MiB" \
        "$(verdict "$hour_rss < 8192")"
    # Allocator arenas vary by a page or two from run to run; growth with the input's length
    # would show as much more.
    row "hour against minute" "$(printf '%+d KiB' "$growth")" "the same (within 256 KiB)" \
        "$(verdict "$growth <= 256")"
    echo
fi

# --- 4. start-up --------------------------------------------------------------------------

if want 4; then
    echo "4. Start-up: exec to the first watermarked byte on stdout (stand-in holding nothing back)"
    "$SOURCE" 1 2 16 >"$WORK/one-second.pcm"
    startups=()
    for _ in $(seq "$STARTUP_REPEATS"); do
        result="$(PELLION_STANDIN_FAULTS="latency=0" "$MEASURE" --first-byte -- \
            "$EMBED" stdin stdout "${RAW_OPTIONS[@]}" <"$WORK/one-second.pcm" 2>/dev/null)"
        startups+=("$(field first_byte_ms "$result")")
    done
    printf '  %-46s %s ms (min / median / max of %d)\n' "exec to first byte" \
        "$(spread "%.2f" "${startups[@]}")" "$STARTUP_REPEATS"
    echo
fi

# --- 5. capacity --------------------------------------------------------------------------

# capacity_try N: N paced runs at once; prints a line of what they did, and succeeds when the
# try passes.
capacity_try() {
    local runs="$1" i pids=()
    rm -rf "$WORK/runs"
    mkdir -p "$WORK/runs"
    local counters_before load_before
    counters_before="$(cpu_counters)"
    load_before="$(load_average)"
    for i in $(seq "$runs"); do
        PELLION_BENCH_REPORT="$WORK/runs/report$i" PELLION_BENCH_LATENESS="$WORK/runs/late$i" \
            LD_PRELOAD="$SHIM" "$MEASURE" --stdout=/dev/null -- \
            "$EMBED" "$WORK/capacity.wav" "$WORK/runs/out$i.wav" \
            >"$WORK/runs/result$i" 2>/dev/null &
        pids+=("$!")
        # Streams begin at different moments, not all in the same millisecond.
        sleep "$CAPACITY_STAGGER"
    done
    wait "${pids[@]}"
    local busy
    busy="$(busy_share "$counters_before" "$(cpu_counters)")"
    local ends
    ends="$(cat "$WORK"/runs/result* | awk -v duration="$CAPACITY_SECONDS" '
        {
            for (i = 1; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
            late = f["wall_s"] - duration
            if (NR == 1 || late > worst) worst = late
            cpu += f["user_s"] + f["sys_s"]
            if (f["status"] != 0) failed++
        }
        END { printf "%.3f %d %d %.3f", worst, failed + 0, NR, 100 * cpu / (NR * duration) }')"
    local worst failed count share
    read -r worst failed count share <<<"$ends"
    local pooled
    pooled="$("$LATENESS" "$BLOCK_US" "$WORK"/runs/late* 2>/dev/null || echo "blocks=0")"
    local p999 p99 max over blocks
    p999="$(field late_p999_us "$pooled")"
    p99="$(field late_p99_us "$pooled")"
    max="$(field late_max_us "$pooled")"
    over="$(field late_over "$pooled")"
    blocks="$(field blocks "$pooled")"
    local ok
    ok="$(verdict "$failed == 0 && $count == $runs && $worst <= $CAPACITY_END_TOLERANCE && \
        \"$p999\" != \"missing\" && $p999 < $BLOCK_US")"
    printf '  %4d runs: end %+.3f s at worst, %d failed; lateness p99 %s us, p99.9 %s us, max %s us,' \
        "$runs" "$worst" "$failed" "$p99" "$p999" "$max"
    printf ' %s of %s blocks over one block; %.2f%% of a core each; machine %.0f%% busy, load %s -> %s  %s\n' \
        "$over" "$blocks" "$share" "$busy" "$load_before" "$(load_average)" "$ok"
    rm -rf "$WORK/runs"
    [ "$ok" = ok ]
}

# capacity_step N: whether N passes in most of CAPACITY_TRIES tries (stops once decided).
capacity_step() {
    local runs="$1" passed=0 failed=0 needed=$(((CAPACITY_TRIES + 1) / 2))
    while [ "$passed" -lt "$needed" ] && [ "$failed" -lt "$needed" ]; do
        if capacity_try "$runs"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
    [ "$passed" -ge "$needed" ]
}

if want 5; then
    echo "5. Capacity: N paced runs at once, each embedding a ${CAPACITY_SECONDS}-second 48 kHz" \
        "stereo 16-bit WAV file into a file of its own, started ${CAPACITY_STAGGER} s apart"
    echo "   a try passes when every run exits 0 and ends within ${CAPACITY_END_TOLERANCE} s of" \
        "the duration, and the p99.9 lateness over all blocks of all runs is under one block" \
        "(${BLOCK_US} us);"
    echo "   N passes when $(((CAPACITY_TRIES + 1) / 2)) of $CAPACITY_TRIES tries pass;" \
        "steps of $CAPACITY_STEP from $CAPACITY_FROM"
    "$SIGNAL" "$WORK/capacity.wav" "$CAPACITY_SECONDS" 2 16 48000
    carried=0
    runs="$CAPACITY_FROM"
    # Up while steps pass; from a first step that fails, down until one passes.
    if capacity_step "$runs"; then
        carried="$runs"
        while [ $((runs + CAPACITY_STEP)) -le "$CAPACITY_MAX" ]; do
            runs=$((runs + CAPACITY_STEP))
            capacity_step "$runs" || break
            carried="$runs"
        done
    else
        while [ $((runs - CAPACITY_STEP)) -gt 0 ]; do
            runs=$((runs - CAPACITY_STEP))
            if capacity_step "$runs"; then
                carried="$runs"
                break
            fi
        done
    fi
    [ "$carried" -lt "$CAPACITY_MAX" ] || carried="$carried (the most tried)"
    row "runs carried at once, every block on time" "$carried" ">= 150" \
        "$(verdict "${carried%% *} >= 150")"
    echo
fi

# --- 6. WAV to WAV unpaced, against sox; the final sync ------------------------------------

if want 6; then
    echo "6. Unpaced WAV to WAV, ${THROUGHPUT_SECONDS} s of 48 kHz stereo 16-bit, against sox" \
        "copying the same file (best of $THROUGHPUT_REPEATS, in turn), outputs on the build's disk"
    # On a real disk, not in memory: the sync before the result line is part of the cost.
    DISK="$BUILD/bench-disk"
    mkdir -p "$DISK"
    "$SIGNAL" "$DISK/in.wav" "$THROUGHPUT_SECONDS" 2 16 >/dev/null
    load_before="$(load_average)"
    best_sox=""
    best_embed=""
    syncs=()
    for _ in $(seq "$THROUGHPUT_REPEATS"); do
        if command -v sox >/dev/null; then
            rm -f "$DISK/sox.wav"
            result="$("$MEASURE" -- sox "$DISK/in.wav" "$DISK/sox.wav")"
            wall="$(field wall_s "$result")"
            if [ -z "$best_sox" ] || [ "$(verdict "$wall < $best_sox")" = ok ]; then best_sox="$wall"; fi
        fi
        result="$("$MEASURE" --stdout=/dev/null -- "$EMBED" --unpaced --silent "$DISK/in.wav" \
            "$DISK/out.wav")"
        [ "$(field status "$result")" = 0 ] || echo "  (a run failed with status $(field status "$result"))"
        wall="$(field wall_s "$result")"
        if [ -z "$best_embed" ] || [ "$(verdict "$wall < $best_embed")" = ok ]; then
            best_embed="$wall"
        fi
        # The time the run spends in its syncs, seen by strace (one file and its directory).
        if command -v strace >/dev/null; then
            syncs+=("$(strace -f -T -e trace=fsync,fdatasync "$EMBED" --unpaced --silent \
                "$DISK/in.wav" "$DISK/out.wav" 2>&1 >/dev/null |
                awk -F'<' '/sync\(/ { sub(/>.*/, "", $NF); total += $NF } END { printf "%.2f", total * 1000 }')")
        fi
    done
    echo "   load average $load_before before, $(load_average) after"
    row "pellion-embed --unpaced" "$(printf '%.0f s of audio per s' \
        "$(calc "$THROUGHPUT_SECONDS / $best_embed")")" "" ""
    if [ -n "$best_sox" ]; then
        row "sox in.wav out.wav" "$(printf '%.0f s of audio per s' \
            "$(calc "$THROUGHPUT_SECONDS / $best_sox")")" "" ""
        row "pellion-embed against sox (best against best)" \
            "$(printf '%.2f' "$(calc "$best_sox / $best_embed")")" "" ""
    else
        echo "  (sox is not installed: no comparison)"
    fi
    if [ "${#syncs[@]}" -gt 0 ]; then
        row "time in the final syncs, ms (median)" "$(median "${syncs[@]}")" "" ""
    else
        echo "  (strace is not installed: the syncs are not timed)"
    fi
    rm -rf "$DISK"
    echo
fi

# --- 7. a batch against parallel -j2 sox -------------------------------------------------

if want 7; then
    echo "7. A batch of $BATCH_FILES files of ${BATCH_SECONDS} s (48 kHz stereo 16-bit) on the build's" \
        "disk: pellion-embed-batch against parallel -j2 sox copying the same files (best of" \
        "$THROUGHPUT_REPEATS, in turn)"
    if ! command -v parallel >/dev/null && [ "$(id -u)" -eq 0 ]; then
        { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
            --no-install-recommends parallel; } >/dev/null 2>&1 || true
    fi
    DISK="$BUILD/bench-batch"
    rm -rf "$DISK"
    mkdir -p "$DISK/in"
    for i in $(seq "$BATCH_FILES"); do
        "$SIGNAL" "$DISK/in/take$i.wav" "$BATCH_SECONDS" 2 16 >/dev/null
    done
    audio=$((BATCH_FILES * BATCH_SECONDS))
    load_before="$(load_average)"
    counters_before="$(cpu_counters)"
    declare -A best=() cpu=()
    # measure NAME COMMAND...: keeps the best wall time of NAME and the CPU of that run.
    measure() {
        local name="$1" result wall
        shift
        rm -rf "$DISK/out"
        mkdir -p "$DISK/out"
        result="$("$MEASURE" --stdout=/dev/null -- "$@")"
        [ "$(field status "$result")" = 0 ] || echo "  ($name failed with status $(field status "$result"))"
        wall="$(field wall_s "$result")"
        if [ -z "${best[$name]:-}" ] || [ "$(verdict "$wall < ${best[$name]}")" = ok ]; then
            best[$name]="$wall"
            cpu[$name]="$(calc "$(field user_s "$result") + $(field sys_s "$result")")"
            [ -f "$DISK/summary.jsonl" ] && cp "$DISK/summary.jsonl" "$DISK/summary-$name.jsonl"
        fi
        rm -f "$DISK/summary.jsonl"
    }
    for _ in $(seq "$THROUGHPUT_REPEATS"); do
        if command -v parallel >/dev/null && command -v sox >/dev/null; then
            measure sox parallel -j2 sox {} "$DISK/out/{/}" ::: "$DISK"/in/*.wav
        fi
        for jobs in 2 1; do
            measure "jobs$jobs" "$BATCH" --input-dir="$DISK/in" --output-dir="$DISK/out" \
                --jobs="$jobs" --summary="$DISK/summary.jsonl"
        done
    done
    busy="$(busy_share "$counters_before" "$(cpu_counters)")"
    echo "   load average $load_before before, $(load_average) after; machine $(printf '%.1f' \
        "$busy")% busy over the section"
    # The CPU of each child, from the summary of the best run: median, in s and per s of audio.
    child_cpu() {
        grep -o '"cpuSeconds":[0-9.]*' "$DISK/summary-$1.jsonl" | cut -d: -f2 | sort -g |
            awk -v seconds="$BATCH_SECONDS" '{ v[NR] = $1 }
                END { m = v[int((NR + 1) / 2)]; printf "%.3f s (%.2f%% of its audio time)", m, 100 * m / seconds }'
    }
    # info LABEL VALUE: a figure without a target.
    info() { printf '  %-46s %s\n' "$1" "$2"; }
    for name in jobs2 jobs1 sox; do
        [ -n "${best[$name]:-}" ] || continue
        case "$name" in
            jobs2) label="pellion-embed-batch --jobs=2" ;;
            jobs1) label="pellion-embed-batch --jobs=1" ;;
            sox) label="parallel -j2 sox in out (the floor)" ;;
        esac
        info "$label" "$(printf '%.2f s, %.0f s of audio per s' "${best[$name]}" \
            "$(calc "$audio / ${best[$name]}")")"
        info "  its CPU, all processes" "$(printf '%.2f s' "${cpu[$name]}")"
    done
    if [ -n "${best[sox]:-}" ]; then
        ratio="$(calc "${best[jobs2]} / ${best[sox]}")"
        row "--jobs=2 against the floor (wall)" "$(printf '%.2f' "$ratio")" "<= 1.25" \
            "$(verdict "$ratio <= 1.25")"
    else
        echo "  (parallel or sox is not installed: no floor)"
    fi
    info "scaling, --jobs=1 wall over --jobs=2 wall" \
        "$(printf '%.2f' "$(calc "${best[jobs1]} / ${best[jobs2]}")")"
    info "CPU of a child (median), --jobs=2" "$(child_cpu jobs2)"
    info "CPU of a child (median), --jobs=1" "$(child_cpu jobs1)"
    rm -rf "$DISK"
    echo
fi

# --- 8. a live chain's latency, and the bypass ---------------------------------------------

if want 8; then
    chain_seconds=$([ "$QUICK" -eq 1 ] && echo 10 || echo 30)
    echo "8. Live chain added latency, ${chain_seconds} s of raw 48 kHz stereo 16-bit at the pace of" \
        "real time, in blocks of 512 frames (10.7 ms), median of 3 runs each"
    load_before="$(load_average)"
    counters_before="$(cpu_counters)"
    # median_of KEY COMMAND...: the median over three runs of one figure of bench-chain-latency.
    median_of() {
        local key="$1"
        shift
        local values=()
        for _ in 1 2 3; do values+=("$(field "$key" "$("$@" 2>/dev/null)")"); done
        median "${values[@]}"
    }
    cat_median="$(median_of median_blocks "$CHAIN" "$chain_seconds" -- cat)"
    embed_median="$(median_of median_blocks "$CHAIN" "$chain_seconds" -- "$EMBED" stdin stdout \
        "${RAW_OPTIONS[@]}")"
    bypass_median="$(median_of median_blocks "$CHAIN" "$chain_seconds" -- "$EMBED" stdin stdout \
        "${RAW_OPTIONS[@]}" --on-embedder-failure=bypass)"
    # A failure planted at block 500 (5.3 s): the largest delay of the 32 blocks from 490 on,
    # against the same blocks of runs without the failure.
    with_failure="$(PELLION_STANDIN_FAULTS="AddAudioBuffer@500=14" median_of window_max "$CHAIN" \
        "$chain_seconds" --around=490 -- "$EMBED" stdin stdout "${RAW_OPTIONS[@]}" \
        --on-embedder-failure=bypass)"
    without_failure="$(median_of window_max "$CHAIN" "$chain_seconds" --around=490 -- "$EMBED" \
        stdin stdout "${RAW_OPTIONS[@]}" --on-embedder-failure=bypass)"
    switch_cost="$(calc "$with_failure - $without_failure")"
    busy="$(busy_share "$counters_before" "$(cpu_counters)")"
    echo "   load average $load_before before, $(load_average) after; machine $(printf '%.1f' \
        "$busy")% busy over the section"
    added="$(calc "$embed_median - $cat_median")"
    added_bypass="$(calc "$bypass_median - $cat_median")"
    row "cat (the floor)" "$(printf '%.3f blocks' "$cat_median")" "" ""
    row "pellion-embed, added beside cat" "$(printf '%.3f blocks' "$added")" "" ""
    row "  with bypass, added beside cat" "$(printf '%.3f blocks' "$added_bypass")" "" ""
    row "bypass against without, added" "$(printf '%.3f blocks' "$(calc "$added_bypass - $added")")" \
        "<= 1 block" "$(verdict "$added_bypass - $added <= 1")"
    row "the switch to bypass, added delay" "$(printf '%.3f blocks' "$switch_cost")" "<= 1 block" \
        "$(verdict "$switch_cost <= 1")"
    echo
fi

echo "Load average at end: $(load_average)"
