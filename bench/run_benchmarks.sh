#!/usr/bin/env bash
# Measures pellion-embed on this machine and prints each figure beside its target:
#
#   1. pacing: CPU time per second of audio and wall time against the audio's duration for a
#      WAV file fed at the pace of real time;
#   2. unpaced throughput from standard input to standard output, also as a ratio against
#      `dd bs=2048` copying the same pipe (the limit for 2048-byte unbuffered reads);
#   3. peak resident memory for a minute and for an hour of standard input;
#   4. start-up: from exec to the first watermarked byte on standard output;
#   5. how many paced runs the machine carries at once before one falls behind real time.
#
# usage: bench/run_benchmarks.sh [--quick] [--only=LIST] [--build-dir=DIR] [--max-runs=N]
#
#   --quick        shorter inputs and fewer concurrency steps (about 1 minute instead of 5)
#   --only         the figures to measure, by number, comma-separated (default: all)
#   --build-dir    where to build (default: build-bench in the source tree); the build uses the
#                  project's default type, RelWithDebInfo, like scripts/build_and_test.sh
#   --max-runs     the highest number of concurrent runs to try (default 600)
#
# Nothing here fails on a figure: the script reports, it does not judge a build. Figures
# taken while other work loads the machine are pessimistic; the load average is printed at
# the start and at the end for that reason.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build-bench"
QUICK=0
MAX_RUNS=600
ONLY="1,2,3,4,5"
for arg in "$@"; do
    case "$arg" in
        --quick) QUICK=1 ;;
        --build-dir=*) BUILD="${arg#--build-dir=}" ;;
        --max-runs=*) MAX_RUNS="${arg#--max-runs=}" ;;
        --only=*) ONLY="${arg#--only=}" ;;
        -h | --help)
            sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'
            exit 0
            ;;
        *)
            echo "unknown argument: $arg (try --help)" >&2
            exit 2
            ;;
    esac
done

if [ "$QUICK" -eq 1 ]; then
    PACED_SECONDS=10
    THROUGHPUT_SECONDS=600
    THROUGHPUT_REPEATS=2
    STARTUP_REPEATS=5
    CONCURRENT_SECONDS=10
    CONCURRENT_STEPS=(50 200)
else
    PACED_SECONDS=60
    THROUGHPUT_SECONDS=3600
    THROUGHPUT_REPEATS=3
    STARTUP_REPEATS=11
    CONCURRENT_SECONDS=20
    CONCURRENT_STEPS=(50 100 200 300 400 500 600)
fi
# A run keeps up with real time when it ends within this much of its audio's duration: room
# for start-up and finalising on a loaded machine. A run that lacks CPU falls further behind
# with every second of audio, and overshoots by far more.
CONCURRENT_TOLERANCE=0.25
# Pause between two starts.
CONCURRENT_STAGGER=0.01

RAW_OPTIONS=(--stdin-sampling-rate=48000 --stdin-nb-channels=2 --stdin-bits-per-sample=16
    --stdin-endianness=le)

# --- build --------------------------------------------------------------------------------

echo "Building in $BUILD ..."
cmake -S "$ROOT" -B "$BUILD" >/dev/null
cmake --build "$BUILD" -j2 --target pellion-embed make-test-signal bench-pcm-source bench-run \
    >/dev/null
EMBED="$BUILD/bin/pellion-embed"
SIGNAL="$BUILD/tools/make-test-signal"
SOURCE="$BUILD/bench/bench-pcm-source"
MEASURE="$BUILD/bench/bench-run"

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

# row LABEL VALUE TARGET VERDICT
row() { printf '  %-46s %-22s target %-26s %s\n' "$1" "$2" "$3" "$4"; }

load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# --- machine ------------------------------------------------------------------------------

CPU_MODEL="$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo
echo "Machine: $(nproc) cores, ${CPU_MODEL:-unknown CPU}, $(uname -sr)"
echo "Date:    $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Load average at start: $(load_average)  (figures taken under load are pessimistic)"
[ "$QUICK" -eq 1 ] && echo "Quick mode: shorter inputs, fewer concurrency steps."
echo

# --- 1. pacing ----------------------------------------------------------------------------

if want 1; then
    echo "1. Pacing: a ${PACED_SECONDS}-second 48 kHz stereo 16-bit WAV file, console to /dev/null"
    "$SIGNAL" "$WORK/paced.wav" "$PACED_SECONDS" 2 16 48000
    result="$("$MEASURE" --stdout=/dev/null -- "$EMBED" "$WORK/paced.wav" "$WORK/paced-out.wav")"
    rm -f "$WORK/paced-out.wav"
    wall="$(field wall_s "$result")"
    cpu="$(calc "$(field user_s "$result") + $(field sys_s "$result")")"
    cpu_share="$(calc "100 * $cpu / $PACED_SECONDS")"
    drift="$(calc "100 * ($wall - $PACED_SECONDS) / $PACED_SECONDS")"
    row "CPU (user+sys) per second of audio" "$(printf '%.3f%% of a core' "$cpu_share")" \
        "< 0.5% of one core" "$(verdict "$cpu_share < 0.5")"
    row "wall time against duration" "$(printf '%.3f s (%+.3f%%)' "$wall" "$drift")" \
        "within 0.2%" "$(verdict "$drift <= 0.2 && $drift >= -0.2")"
    [ "$(field status "$result")" = 0 ] || echo "  (the run failed with status $(field status "$result"))"
    echo
fi

# --- 2. throughput ------------------------------------------------------------------------

if want 2; then
    echo "2. Unpaced throughput, stdin to stdout, ${THROUGHPUT_SECONDS} s of 48 kHz stereo 16-bit" \
        "(best of $THROUGHPUT_REPEATS)"
    best_dd=""
    best_embed=""
    hour_rss=""
    for _ in $(seq "$THROUGHPUT_REPEATS"); do
        result="$("$SOURCE" "$THROUGHPUT_SECONDS" 2 16 |
            "$MEASURE" --stdout=/dev/null -- dd bs=2048 of=/dev/null status=none)"
        wall="$(field wall_s "$result")"
        if [ -z "$best_dd" ] || [ "$(verdict "$wall < $best_dd")" = ok ]; then best_dd="$wall"; fi
        result="$("$SOURCE" "$THROUGHPUT_SECONDS" 2 16 |
            "$MEASURE" --stdout=/dev/null -- "$EMBED" stdin stdout "${RAW_OPTIONS[@]}" 2>/dev/null)"
        [ "$(field status "$result")" = 0 ] || echo "  (a run failed with status $(field status "$result"))"
        wall="$(field wall_s "$result")"
        if [ -z "$best_embed" ] || [ "$(verdict "$wall < $best_embed")" = ok ]; then
            best_embed="$wall"
        fi
        rss="$(field maxrss_kib "$result")"
        if [ -z "$hour_rss" ] || [ "$rss" -gt "$hour_rss" ]; then hour_rss="$rss"; fi
    done
    embed_speed="$(calc "$THROUGHPUT_SECONDS / $best_embed")"
    dd_speed="$(calc "$THROUGHPUT_SECONDS / $best_dd")"
    ratio="$(calc "$best_dd / $best_embed")"
    row "pellion-embed" "$(printf '%.0f s of audio per s' "$embed_speed")" "" ""
    row "dd bs=2048 on the same pipe" "$(printf '%.0f s of audio per s' "$dd_speed")" "" ""
    row "pellion-embed against dd" "$(printf '%.2f' "$ratio")" ">= 0.5" "$(verdict "$ratio >= 0.5")"
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
    median="$(printf '%s\n' "${startups[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"
    row "median of $STARTUP_REPEATS" "$(printf '%.2f ms' "$median")" "(none)" ""
    echo
fi

# --- 5. concurrency -----------------------------------------------------------------------

if want 5; then
    echo "5. Concurrent paced runs: each embeds a ${CONCURRENT_SECONDS}-second 48 kHz stereo 16-bit WAV" \
        "file into a file of its own"
    echo "   (started ${CONCURRENT_STAGGER} s apart; a run keeps up when it ends within" \
        "${CONCURRENT_TOLERANCE} s of the audio's duration)"
    "$SIGNAL" "$WORK/concurrent.wav" "$CONCURRENT_SECONDS" 2 16 48000
    carried=0
    for runs in "${CONCURRENT_STEPS[@]}"; do
        [ "$runs" -le "$MAX_RUNS" ] || break
        mkdir -p "$WORK/runs"
        pids=()
        for i in $(seq "$runs"); do
            "$MEASURE" --stdout=/dev/null -- "$EMBED" "$WORK/concurrent.wav" "$WORK/runs/out$i.wav" \
                >"$WORK/runs/result$i" 2>/dev/null &
            pids+=("$!")
            # Streams begin at different moments, not all in the same millisecond.
            sleep "$CONCURRENT_STAGGER"
        done
        wait "${pids[@]}"
        stats="$(cat "$WORK"/runs/result* | awk -v duration="$CONCURRENT_SECONDS" '
            {
                for (i = 1; i <= NF; ++i) { split($i, kv, "="); f[kv[1]] = kv[2] }
                late = f["wall_s"] - duration
                if (NR == 1 || late > worst) worst = late
                total += late
                cpu += f["user_s"] + f["sys_s"]
                if (f["status"] != 0) failed++
            }
            END { printf "%.3f %.3f %.3f %d %d", worst, total / NR, cpu, failed + 0, NR }')"
        read -r worst mean cpu failed count <<<"$stats"
        # What the runs cost, scaled to all of them running at once.
        share="$(calc "100 * $cpu / ($count * $CONCURRENT_SECONDS)")"
        busy="$(calc "$share * $runs / $(nproc)")"
        ok="$(verdict "$failed == 0 && $count == $runs && $worst <= $CONCURRENT_TOLERANCE")"
        printf '  %4d runs: ends %+.3f s after the duration at worst (%+.3f s on average), %d failed;' \
            "$runs" "$worst" "$mean" "$failed"
        printf ' %.2f%% of a core each, %.0f%% of the machine  %s\n' "$share" "$busy" "$ok"
        rm -rf "$WORK/runs"
        [ "$ok" = ok ] || break
        carried="$runs"
    done
    row "runs carried at once" "$carried (steps: ${CONCURRENT_STEPS[*]})" ">= 200" \
        "$(verdict "$carried >= 200")"
    echo
fi

echo "Load average at end: $(load_average)"
