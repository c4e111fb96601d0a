#!/usr/bin/env bash
# Installs the build into a scratch prefix, moves the prefix elsewhere, and checks that the
# installed programs run from there with the installed library, and that nothing else was
# installed.
#
# usage: install_test.sh CMAKE BUILD_DIR MAKE_TEST_SIGNAL USES_STANDIN
set -euo pipefail
cmake="$1"
build="$2"
make_test_signal="$3"
uses_standin="$4"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "install_test: $*" >&2
    exit 1
}

"$cmake" --install "$build" --prefix "$scratch/staged" >"$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
# The programs must not depend on where they were installed.
mv "$scratch/staged" "$scratch/prefix"
prefix="$scratch/prefix"

expected="bin/libpellionaudioembedder.so.8.1
bin/pellion-embed
bin/pellion-embed-batch
bin/pellion-embed-online
share/man/man1/pellion-embed-batch.1
share/man/man1/pellion-embed-online.1
share/man/man1/pellion-embed.1"
installed="$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)"
[ "$installed" = "$(echo "$expected" | LC_ALL=C sort)" ] ||
    fail "installed files differ from the expected ones:"$'\n'"$installed"

for tool in pellion-embed pellion-embed-online; do
    [ -x "$prefix/bin/$tool" ] || fail "$tool is not executable"
    usage="$("$prefix/bin/$tool" -h)" || fail "$tool -h exited with status $?"
    grep -qi "^usage: $tool inputFile outputFile" <<<"$usage" ||
        fail "$tool -h printed no usage text: $usage"
    # The loader must take the library beside the installed program, not the build tree's.
    LD_DEBUG=libs "$prefix/bin/$tool" -h 2>"$scratch/loader.log" >/dev/null
    grep -q "init: $prefix/bin/libpellionaudioembedder.so.8.1" "$scratch/loader.log" ||
        fail "$tool did not load $prefix/bin/libpellionaudioembedder.so.8.1:"$'\n'"$(
            grep libpellion "$scratch/loader.log")"
done

# An embedding run from the prefix; only the stand-in is known to embed without an account.
if [ "$uses_standin" = ON ]; then
    "$make_test_signal" "$scratch/in.wav" 0.1 2 16 48000
    "$prefix/bin/pellion-embed" "$scratch/in.wav" "$scratch/out.wav" --silent ||
        fail "the installed pellion-embed failed with status $?"
    [ "$(stat -c %s "$scratch/out.wav")" = "$(stat -c %s "$scratch/in.wav")" ] ||
        fail "the installed pellion-embed wrote a WAV file of another size"
    # The batch runs the pellion-embed beside it, wherever the prefix went.
    mkdir "$scratch/tree"
    cp "$scratch/in.wav" "$scratch/tree/take.wav"
    (cd / && PATH=/usr/bin:/bin "$prefix/bin/pellion-embed-batch" --input-dir="$scratch/tree" \
        --output-dir="$scratch/batch" >/dev/null) ||
        fail "the installed pellion-embed-batch failed with status $?"
    cmp -s "$scratch/out.wav" "$scratch/batch/take.wav" ||
        fail "the installed pellion-embed-batch wrote another output than pellion-embed"
fi
echo "install_test: ok"
