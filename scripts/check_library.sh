#!/usr/bin/env bash
# Tells whether an embedder library fits the built programs, before they are trusted with it.
# Run it with --help for what it checks.
set -uo pipefail

checkout="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
run_timeout=60      # seconds for one embedding run of a 1-second signal
online_timeout=120  # the online tool talks to a server as well

usage() {
    cat <<'EOF'
usage: scripts/check_library.sh LIBRARY [--bin=DIR]
           [--login=USER --password=PASS --metadataPath=FILE [--server=HOST] [--port=N]]

Tells whether LIBRARY, an embedder library libpellionaudioembedder.so.8.1 (the real one, or
any other build of it), fits the built programs pellion-embed and pellion-embed-online.
Run it before the first production run with a library, and again after every update of it.
It prints one line per check, PASS, WARN, FAIL or SKIP, then a summary:

  file        an ELF shared object for the programs' architecture
  soname      the library's SONAME is the name the programs load it by
  symbols     it defines every symbol the programs take from it (read from the programs;
              the missing ones are named)
  loading     the dynamic loader loads it with every library it needs
  version     Corvida::GetVersion() answers; its text is shown
  wav-file    pellion-embed embeds a 1-second 48 kHz stereo 16-bit WAV file: it ends with
              [SUCCESS], and the output has the input's frame count and format
  raw-stream  the same audio as raw PCM from standard input to standard output, where
              the program is silent: it must exit with 0, with output of the input's length
  online      pellion-embed-online on the same WAV file; run only with --login,
              --password and --metadataPath, which are passed on to it with --server and
              --port. It needs the account and the online service.

The programs run from a scratch copy with LIBRARY beside them; the build is not changed.

  --bin=DIR   the programs' directory (default: build/bin of this checkout). The check's
              helpers, make-test-signal and library-version, are taken from DIR/../tools,
              else from build/tools of this checkout. It builds nothing: build first.
  -h, --help  this text

Exit status: 0 the library fits (a WARN line is a caveat, not a misfit); 1 it does not
fit; 2 the check could not be made (command line, programs not built, a tool missing).
It needs binutils (readelf, nm, c++filt), which come with g++.

To build the programs against a real library (-DPELLION_EMBEDDER_LIBRARY=PATH), and for
what to do when a check fails, see "Using the real library" in README.md.
EOF
}

# --- the command line ------------------------------------------------------------------------

usage_error() {
    echo "check_library: $1" >&2
    echo "usage: scripts/check_library.sh LIBRARY [--bin=DIR] [--login=USER --password=PASS" \
        "--metadataPath=FILE [--server=HOST] [--port=N]]; --help tells more" >&2
    exit 2
}

# The check cannot be made: nothing is known about the library.
cannot_check() {
    echo "check_library: $1" >&2
    exit 2
}

library=""
bin="$checkout/build/bin"
online_args=()
declare -A given=()
for arg in "$@"; do
    case "$arg" in
        -h | --help)
            usage
            exit 0
            ;;
        --bin=* | --login=* | --password=* | --metadataPath=* | --server=* | --port=*)
            name="${arg%%=*}"
            [ -z "${given[$name]+set}" ] || usage_error "$name is given twice"
            given[$name]=1
            if [ "$name" = --bin ]; then
                bin="${arg#--bin=}"
            else
                online_args+=("$arg")
            fi
            ;;
        -*) usage_error "unknown option: $arg" ;;
        *)
            [ -z "$library" ] || usage_error "one library only: $library and $arg"
            [ -n "$arg" ] || usage_error "the library's path is empty"
            library="$arg"
            ;;
    esac
done
[ -n "$library" ] || usage_error "no library given"

online_given=0
for name in --login --password --metadataPath --server --port; do
    [ -z "${given[$name]+set}" ] || online_given=$((online_given + 1))
done
run_online=false
if [ "$online_given" -gt 0 ]; then
    for name in --login --password --metadataPath; do
        [ -n "${given[$name]+set}" ] ||
            usage_error "the online tool is run only with --login, --password and --metadataPath: $name is missing"
    done
    run_online=true
fi

# --- what the check needs --------------------------------------------------------------------

missing_tools=()
for tool in readelf nm c++filt; do
    command -v "$tool" >/dev/null 2>&1 || missing_tools+=("$tool")
done
[ "${#missing_tools[@]}" -eq 0 ] ||
    cannot_check "${missing_tools[*]} not found: they belong to binutils, which comes with g++ (Debian: apt-get install binutils)"
for tool in ldd timeout od dd; do
    command -v "$tool" >/dev/null 2>&1 ||
        cannot_check "$tool not found: it comes with the C library's tools (ldd) or coreutils"
done

[ -d "$bin" ] || cannot_check "no directory $bin: build the programs first (cmake --build build), or name their directory with --bin=DIR"
bin="$(cd "$bin" && pwd)"
for program in pellion-embed pellion-embed-online; do
    [ -f "$bin/$program" ] && [ -x "$bin/$program" ] ||
        cannot_check "$bin/$program not found: build the programs first (cmake --build build), or name their directory with --bin=DIR"
done
tools="$(cd "$bin/.." && pwd)/tools"
[ -x "$tools/library-version" ] && [ -x "$tools/make-test-signal" ] || tools="$checkout/build/tools"
for helper in library-version make-test-signal; do
    [ -x "$tools/$helper" ] ||
        cannot_check "$tools/$helper not found: build the project (cmake --build build), which builds the check's helpers"
done

# A field of the ELF header, as readelf names it ("Class", "Machine", ...).
elf_field() {
    LC_ALL=C readelf -h "$1" 2>/dev/null | sed -n "s/^ *$2: *//p"
}
# The names of the libraries FILE needs, one a line.
needed_libraries() {
    LC_ALL=C readelf -d -W "$1" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'
}
# "little endian" of readelf's "2's complement, little endian".
byte_order() {
    echo "${1##*, }"
}

programs_class="$(elf_field "$bin/pellion-embed" Class)"
programs_order="$(byte_order "$(elf_field "$bin/pellion-embed" Data)")"
programs_machine="$(elf_field "$bin/pellion-embed" Machine)"
[ -n "$programs_machine" ] || cannot_check "$bin/pellion-embed is not an ELF program"
# The library's name as the programs load it; its version is the one they were built for.
needed_name=""
for program in pellion-embed pellion-embed-online; do
    name="$(needed_libraries "$bin/$program" | grep -m1 '^libpellionaudioembedder\.so')"
    [ -n "$name" ] || cannot_check "$bin/$program does not load libpellionaudioembedder: not a build of this project?"
    [ -z "$needed_name" ] || [ "$name" = "$needed_name" ] ||
        cannot_check "the programs load different libraries: $needed_name and $name; build them again"
    needed_name="$name"
done
library_version="${needed_name#libpellionaudioembedder.so.}"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/check_library.XXXXXX")" ||
    cannot_check "cannot create a scratch directory in ${TMPDIR:-/tmp}"
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- reporting -------------------------------------------------------------------------------

failures=()  # what does not fit and what it means, for the summary
warnings=()

line() {
    printf '[%s] %-10s %s\n' "$1" "$2" "$3"
}
pass() {
    line PASS "$1" "$2"
}
skip() {
    line SKIP "$1" "$2"
}
# CHECK TEXT [MEANING]: MEANING goes into the summary.
fail() {
    line FAIL "$1" "$2"
    [ -z "${3:-}" ] || failures+=("$3")
}
warn() {
    line WARN "$1" "$2"
    warnings+=("$3")
}
skip_checks() {
    local reason="$1" check
    shift
    for check in "$@"; do
        skip "$check" "not run: $reason"
    done
}

# --- the checks ------------------------------------------------------------------------------

# What a file that is not ELF seems to be.
describe_non_elf() {
    if [ "$(head -c 8 "$library" | tr -d '\0')" = '!<arch>' ]; then
        echo "a static archive (.a)"
    elif [ "$(head -c 4096 "$library" | LC_ALL=C tr -d '\t\n\r -~' | wc -c)" -eq 0 ]; then
        echo "a text file"
    else
        echo "a file of another format (an incomplete download?)"
    fi
}

# KIND: the library is a file of that kind, not a shared library.
not_a_library() {
    fail file "$1, not an ELF shared library" \
        "$library is $1, not a shared library: it cannot be the embedder library; check the path and the download"
}

check_file() {
    if [ ! -e "$library" ]; then
        fail file "$library: no such file" "there is no file $library: check the path"
        return 1
    fi
    if [ -d "$library" ]; then
        fail file "$library is a directory" "$library is a directory: name the library file in it"
        return 1
    fi
    if [ ! -r "$library" ]; then
        fail file "$library cannot be read" "$library cannot be read: check its permissions"
        return 1
    fi
    if [ ! -s "$library" ]; then
        not_a_library "an empty file"
        return 1
    fi
    if [ "$(od -An -tx1 -N4 "$library" | tr -d ' \n')" != 7f454c46 ]; then
        not_a_library "$(describe_non_elf)"
        return 1
    fi

    local class order machine type
    class="$(elf_field "$library" Class)"
    order="$(byte_order "$(elf_field "$library" Data)")"
    machine="$(elf_field "$library" Machine)"
    type="$(elf_field "$library" Type)"
    if [ -z "$type" ]; then
        not_a_library "a damaged ELF file"
        return 1
    fi
    if [ "$class/$order/$machine" != "$programs_class/$programs_order/$programs_machine" ]; then
        fail file "built for $machine ($class, $order), the programs for $programs_machine ($programs_class, $programs_order)" \
            "the library is built for another machine ($machine): get its build for $programs_machine"
        return 1
    fi
    local kind=""
    case "$type" in
        DYN*)
            LC_ALL=C readelf -d -W "$library" 2>/dev/null | grep -q '(FLAGS_1).* PIE\b' &&
                kind="a position-independent executable"
            ;;
        EXEC*) kind="an executable" ;;
        REL*) kind="an object file (.o)" ;;
        *) kind="an ELF file of type $type" ;;
    esac
    if [ -n "$kind" ]; then
        not_a_library "$kind"
        return 1
    fi
    pass file "ELF shared object, $class $order, $machine, like the programs"
}

check_soname() {
    local soname
    soname="$(LC_ALL=C readelf -d -W "$library" 2>/dev/null | sed -n 's/.*(SONAME).*\[\(.*\)\]$/\1/p')"
    if [ -z "$soname" ]; then
        warn soname "none; the programs load it by its file name $needed_name, which works" \
            "the library carries no SONAME, so nothing in it says which version it is: make sure it is the file meant"
    elif [ "$soname" != "$needed_name" ]; then
        fail soname "$soname, but the programs load $needed_name" \
            "the library calls itself $soname: it is another version than $library_version (or another library), which programs built for $library_version must not use"
    else
        pass soname "$soname, the name the programs load"
    fi
}

# The dynamic symbols the named files define: names without their versions, sorted.
defined_symbols() {
    [ "$#" -gt 0 ] || return 0
    LC_ALL=C nm -D --defined-only "$@" 2>/dev/null | awk 'NF >= 3 { print $NF }' |
        sed 's/@.*//' | LC_ALL=C sort -u
}

# The symbols PROGRAM takes from the embedder library: those it leaves undefined (weak ones
# aside, they may stay undefined) that none of its other libraries defines.
imported_symbols() {
    local program="$1" listing name path others=()
    listing="$(ldd "$program" 2>/dev/null)"
    while read -r name; do
        [ "$name" != "$needed_name" ] || continue
        path="$(awk -v n="$name" '
            $1 == n && $2 == "=>" && $3 ~ /^\// { print $3; exit }
            substr($1, length($1) - length(n)) == "/" n { print $1; exit }' <<<"$listing")"
        [ -n "$path" ] || cannot_check "cannot find $name, which $program needs (ldd $program)"
        others+=("$path")
    done < <(needed_libraries "$program")
    LC_ALL=C comm -23 \
        <(LC_ALL=C nm -D --undefined-only "$program" | awk '$1 == "U" { print $2 }' |
            sed 's/@.*//' | LC_ALL=C sort -u) \
        <(defined_symbols ${others[@]+"${others[@]}"})
}

check_symbols() {
    local program symbol users total count
    for program in pellion-embed pellion-embed-online; do
        imported_symbols "$bin/$program" >"$scratch/imports.$program"
    done
    LC_ALL=C sort -u "$scratch"/imports.* >"$scratch/imports"
    [ -s "$scratch/imports" ] || cannot_check "the programs in $bin take no symbol from $needed_name"
    defined_symbols "$library" >"$scratch/defined"
    LC_ALL=C comm -23 "$scratch/imports" "$scratch/defined" >"$scratch/missing"
    total="$(wc -l <"$scratch/imports")"
    if [ ! -s "$scratch/missing" ]; then
        pass symbols "all $total symbols the programs take from the library are defined"
        return 0
    fi
    count="$(wc -l <"$scratch/missing")"
    fail symbols "the library lacks $count of the $total symbols the programs take from it:"
    while read -r symbol; do
        users=""
        for program in pellion-embed pellion-embed-online; do
            grep -qxF "$symbol" "$scratch/imports.$program" && users="${users:+$users and }$program"
        done
        printf '%18s %s (used by %s)\n' missing: "$(c++filt "$symbol")" "$users"
    done <"$scratch/missing"
    local what="$count symbols missing (listed above)" stop="the programs would stop"
    local where="where they need one"
    if [ "$count" -eq 1 ]; then
        what="symbol $(c++filt "$(cat "$scratch/missing")") missing"
        stop="$users would stop"
        where="where it is needed"
    fi
    failures+=("$what: the library is another version than $library_version, or another library; $stop with \"undefined symbol\" $where")
}

# How a run that did not exit normally ended, from the status that timeout(1) passes on.
describe_abnormal_end() {
    local status="$1" limit="$2"
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        echo "did not end within $limit s"
    elif [ "$status" -gt 128 ]; then
        echo "crashed (SIG$(kill -l $((status - 128)) 2>/dev/null || echo $((status - 128))))"
    fi
}

# Returns 1 when loading failed, so that nothing that needs the library is run.
check_loading_and_version() {
    local status version reason ended
    version="$(timeout -k 5 30 "$tools/library-version" "$library" 2>"$scratch/version.err")"
    status=$?
    reason="$(head -n 1 "$scratch/version.err")"
    case "$status" in
        0 | 4 | 5) pass loading "the dynamic loader loads it with every library it needs" ;;
        3)
            fail loading "the dynamic loader refuses it: $reason" \
                "the dynamic loader cannot load the library ($reason): install the library it names as missing, or get a build of the library for this system"
            skip version "not run: loading failed"
            return 1
            ;;
        *)
            ended="$(describe_abnormal_end "$status" 30)"
            fail loading "loading it and calling GetVersion ${ended:-failed with status $status${reason:+: $reason}}" \
                "the library ${ended:-failed} when loaded and asked for its version: it cannot work with the programs"
            skip version "not run: loading failed"
            return 1
            ;;
    esac
    case "$status" in
        0)
            version="$(LC_ALL=C tr '\000-\037' ' ' <<<"$version" | sed 's/ *$//')"
            pass version "GetVersion answers \"$version\""
            ;;
        4)
            # The symbols check has named it missing already.
            fail version "the library defines no Corvida::GetVersion()"
            ;;
        5)
            fail version "GetVersion returned null instead of a version text" \
                "GetVersion answers with no text: the library is not in working order, or not the one the programs were written for"
            ;;
    esac
}

# Little-endian unsigned integer of BYTES bytes at OFFSET of FILE.
le_uint() {
    local value=0 shift=0 byte
    for byte in $(od -An -tu1 -v -j "$2" -N "$3" "$1"); do
        value=$((value + (byte << shift)))
        shift=$((shift + 8))
    done
    echo "$value"
}

# "CHANNELS RATE BITS DATA_OFFSET DATA_SIZE BYTES_AFTER_DATA_HEADER" of a WAV file, or the
# reason why it is none, with status 1.
wav_info() {
    local file="$1" size offset=12 id length channels="" rate bits
    size="$(stat -c %s "$file" 2>/dev/null)" || { echo "missing"; return 1; }
    if [ "$size" -lt 12 ] || [ "$(head -c 4 "$file" | tr -d '\0')" != RIFF ] ||
        [ "$(dd if="$file" bs=1 skip=8 count=4 status=none | tr -d '\0')" != WAVE ]; then
        echo "not a WAV file"
        return 1
    fi
    while [ $((offset + 8)) -le "$size" ]; do
        id="$(dd if="$file" bs=1 skip="$offset" count=4 status=none | tr -d '\0')"
        length="$(le_uint "$file" $((offset + 4)) 4)"
        case "$id" in
            "fmt ")
                [ "$length" -ge 16 ] && [ $((offset + 24)) -le "$size" ] ||
                    { echo "a fmt chunk cut short"; return 1; }
                channels="$(le_uint "$file" $((offset + 10)) 2)"
                rate="$(le_uint "$file" $((offset + 12)) 4)"
                bits="$(le_uint "$file" $((offset + 22)) 2)"
                ;;
            data)
                [ -n "$channels" ] || { echo "no fmt chunk before the data"; return 1; }
                echo "$channels $rate $bits $((offset + 8)) $length $((size - offset - 8))"
                return 0
                ;;
        esac
        offset=$((offset + 8 + length + length % 2))
    done
    echo "no data chunk"
    return 1
}

# The input's "CHANNELS RATE BITS DATA_OFFSET DATA_SIZE ...", set by prepare_signal.
input_info=""

prepare_signal() {
    cp "$bin/pellion-embed" "$bin/pellion-embed-online" "$scratch/" &&
        cp "$library" "$scratch/$needed_name" ||
        cannot_check "cannot copy the programs and the library into $scratch"
    "$tools/make-test-signal" "$scratch/in.wav" 1 2 16 48000 ||
        cannot_check "$tools/make-test-signal cannot write a test signal"
    input_info="$(wav_info "$scratch/in.wav")" ||
        cannot_check "$tools/make-test-signal wrote no readable WAV file: $input_info"
    local data_offset data_size
    read -r _ _ _ data_offset data_size _ <<<"$input_info"
    tail -c +$((data_offset + 1)) "$scratch/in.wav" | head -c "$data_size" >"$scratch/in.pcm"
}

# Runs a copied program in the scratch directory. Its run path finds the library beside it;
# the scratch directory also heads the library path, so that no other copy on the caller's
# LD_LIBRARY_PATH can stand in for it.
run_in_scratch() {
    local limit="$1"
    shift
    LD_LIBRARY_PATH="$scratch${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" timeout -k 5 "$limit" "$@"
}

# The last line of a console capture that is not blank. Progress lines end in a carriage
# return only.
last_line() {
    tr '\r' '\n' <"$1" | grep -v '^[[:space:]]*$' | tail -n 1
}

# CHECK TOOL STATUS LIMIT CONSOLE [OTHER]: passes or fails a run by how it ended; status 1
# when failed. CONSOLE holds the program's lines; OTHER, the other stream when it is not the
# audio, is where the loader complains when the program cannot even start. Without OTHER the
# run is silent: it prints no [SUCCESS] line, and exit status 0 without an [ERROR] line is
# its success.
judge_run() {
    local check="$1" tool="$2" status="$3" limit="$4" console="$5" other="${6:-}"
    local ended result meaning
    # The copy of the program could not be started at all: that says nothing of the library.
    [ "$status" -ne 126 ] ||
        cannot_check "cannot run programs in $scratch (is ${TMPDIR:-/tmp} mounted noexec? then set TMPDIR to another directory)"
    ended="$(describe_abnormal_end "$status" "$limit")"
    if [ -n "$ended" ]; then
        fail "$check" "$tool $ended" \
            "$tool $ended with the library: the library does not work the way the programs were written for (another version than $library_version?)"
        return 1
    fi
    result="$(last_line "$console")"
    if [ -z "$other" ]; then
        [ "$status" -ne 0 ] || grep -q '^\[ERROR\]' "$console" || return 0
    elif [ "$status" -eq 0 ] && [ "$result" = "[SUCCESS]" ]; then
        return 0
    elif [[ "$result" != "["* ]] && [ -s "$other" ]; then
        result="$(last_line "$other")"
    fi
    result="$(c++filt <<<"${result//$scratch\//}" | cut -c 1-200)"
    case "$result" in
        *"undefined symbol"* | *"symbol lookup error"* | *"version \`"*"' not found"*)
            meaning="$tool cannot run with the library: the loader misses a symbol (see the symbols check); the library is another version than $library_version, or another library"
            ;;
        *)
            meaning="$tool did not embed with the library: its last line (above) says why; a library may refuse to work without its licence, account or network"
            ;;
    esac
    fail "$check" "$tool exited with status $status: ${result:-no result line}" "$meaning"
    return 1
}

# CHECK TOOL OUTPUT: the written WAV file against the input.
judge_wav_output() {
    local check="$1" tool="$2" output="$3" info channels rate bits size available frames
    local in_channels in_rate in_bits in_size
    read -r in_channels in_rate in_bits _ in_size _ <<<"$input_info"
    local in_frames=$((in_size / (in_channels * in_bits / 8)))
    local mismatch="the library handed back audio of another length or format than it was given: it does not follow the interface the programs were written for"
    if ! info="$(wav_info "$output")"; then
        fail "$check" "$tool: [SUCCESS], but the output is $info" "$tool reported success but wrote no WAV file: $mismatch"
        return 1
    fi
    read -r channels rate bits _ size available <<<"$info"
    if [ "$channels $rate $bits" != "$in_channels $in_rate $in_bits" ]; then
        fail "$check" "$tool: the output has $channels channels, $bits bits, $rate Hz; the input $in_channels, $in_bits, $in_rate" "$mismatch"
        return 1
    fi
    if [ "$size" -gt "$available" ]; then
        fail "$check" "$tool: the output is incomplete: its header announces $size bytes of audio, it holds $available" "$mismatch"
        return 1
    fi
    frames=$((size / (channels * bits / 8)))
    if [ "$frames" -ne "$in_frames" ] || [ $((size % (channels * bits / 8))) -ne 0 ]; then
        fail "$check" "$tool: the output holds $size bytes of audio ($frames frames), the input $in_frames frames" "$mismatch"
        return 1
    fi
    pass "$check" "$tool in.wav out.wav: [SUCCESS]; $frames frames, $channels channels, $bits bits, $rate Hz, like the input"
}

check_wav_file() {
    local status
    run_in_scratch "$run_timeout" "$scratch/pellion-embed" "$scratch/in.wav" "$scratch/out.wav" \
        </dev/null >"$scratch/wav.out" 2>"$scratch/wav.err"
    status=$?
    judge_run wav-file pellion-embed "$status" "$run_timeout" "$scratch/wav.out" "$scratch/wav.err" &&
        judge_wav_output wav-file pellion-embed "$scratch/out.wav"
}

check_raw_stream() {
    local status channels rate bits in_size out_size
    read -r channels rate bits _ in_size _ <<<"$input_info"
    # With standard output carrying the audio, the program is silent: only warnings and
    # errors are printed, to standard error, and success is the exit status alone.
    run_in_scratch "$run_timeout" "$scratch/pellion-embed" stdin stdout \
        --stdin-sampling-rate="$rate" --stdin-nb-channels="$channels" \
        --stdin-bits-per-sample="$bits" --stdin-endianness=le \
        <"$scratch/in.pcm" >"$scratch/out.pcm" 2>"$scratch/raw.err"
    status=$?
    judge_run raw-stream pellion-embed "$status" "$run_timeout" "$scratch/raw.err" || return 1
    out_size="$(stat -c %s "$scratch/out.pcm")"
    if [ "$out_size" -ne "$in_size" ]; then
        fail raw-stream "pellion-embed: exit status 0, but the output holds $out_size bytes, the input $in_size" \
            "the library handed back more or less audio than it was given: it does not follow the interface the programs were written for"
        return 1
    fi
    pass raw-stream "pellion-embed stdin stdout: exit status 0 (silent); $out_size bytes ($((out_size / (channels * bits / 8))) frames), like the input"
}

check_online() {
    local status
    if ! "$run_online"; then
        skip online "pellion-embed-online needs an account: pass --login, --password and --metadataPath to run it"
        return 0
    fi
    run_in_scratch "$online_timeout" "$scratch/pellion-embed-online" "$scratch/in.wav" \
        "$scratch/out-online.wav" "${online_args[@]}" \
        </dev/null >"$scratch/online.out" 2>"$scratch/online.err"
    status=$?
    judge_run online pellion-embed-online "$status" "$online_timeout" "$scratch/online.out" \
        "$scratch/online.err" &&
        judge_wav_output online pellion-embed-online "$scratch/out-online.wav"
}

# --- the run ---------------------------------------------------------------------------------

echo "Library:  $library"
echo "Programs: $bin (built for $needed_name)"
if check_file; then
    check_soname
    check_symbols
    if check_loading_and_version; then
        prepare_signal
        check_wav_file
        check_raw_stream
        check_online
    else
        skip_checks "loading failed" wav-file raw-stream online
    fi
else
    skip_checks "the file check failed" soname symbols loading version \
        wav-file raw-stream online
fi

echo
if [ "${#failures[@]}" -eq 0 ]; then
    if [ "${#warnings[@]}" -eq 0 ]; then
        echo "Result: the library fits the programs."
    else
        echo "Result: the library fits the programs, with a caveat:"
        printf '  - %s\n' "${warnings[@]}"
    fi
    exit 0
fi
echo "Result: the library does NOT fit the programs:"
declare -A said=()
for failure in "${failures[@]}"; do
    [ -n "${said[$failure]+set}" ] || printf '  - %s\n' "$failure"
    said[$failure]=1
done
echo "Do not run the programs with it. What to do: README.md, \"Using the real library\"."
exit 1
