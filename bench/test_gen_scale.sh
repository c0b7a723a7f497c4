#!/usr/bin/env bash
# Checks the handling of generated benchmark datasets (bench/lib.sh through
# bench/gen_scale.sh) in a temporary data folder, with the real quivrel-gen
# on the smallest dataset of generated.txt and stand-in generators for the
# failures.  Exits with 1 when a check fails.
#
# Usage: bench/test_gen_scale.sh [GEN]   (GEN default: build/tools/quivrel-gen)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
gen=${1:-$here/../build/tools/quivrel-gen}
[ -x "$gen" ] || { echo "no quivrel-gen at $gen" >&2; exit 2; }
gen=$(cd "$(dirname "$gen")" && pwd)/$(basename "$gen")
name="gen-C10T2.5S4I1.25D10K"
read -r _ bytes sum _ < <(sed -e 's/#.*//' "$here/generated.txt" | awk -v n=$name '$1 == n')

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quivrel-gen-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
export QUIVREL_BENCH_DATA=$tmp/data QUIVREL_DATA_SRC=$tmp/none
file=$QUIVREL_BENCH_DATA/$name.bin
printf '#!/bin/sh\nexit 1\n' > "$tmp/fails" && chmod +x "$tmp/fails"
printf '#!/bin/sh\nfor a; do last=$a; done\necho other > "$last"\n' > "$tmp/other" && chmod +x "$tmp/other"

failed=0
check() {  # check DESCRIPTION COMMAND...: the command must succeed
    local what=$1
    shift
    if "$@" > /dev/null 2>> "$tmp/log"; then echo "ok   $what"; else echo "FAIL $what"; failed=1; fi
}
make_it() { "$here/gen_scale.sh" -g "$1" "$name"; }
fails() { ! "$@"; }
sha_is() { [ "$(sha256sum < "$file" | cut -d' ' -f1)" = "$sum" ]; }

# Made when missing, with the listed size and checksum, and the path printed.
check "makes a missing dataset" make_it "$gen"
check "prints its path" [ "$(make_it "$gen" 2> /dev/null)" = "$file" ]
check "listed size and sha256" sha_is
# A good file is kept: the generator is not run again.
check "keeps a good file" make_it "$tmp/fails"
# A file changed in place (same size, older time) is checked again and made anew.
printf 'x' | dd of="$file" bs=1 seek=100 conv=notrunc 2> /dev/null
touch -d '2001-01-01' "$file"
check "refuses a changed file" fails make_it "$tmp/fails"
check "makes a changed file anew" make_it "$gen"
check "right content again" sha_is
# A generator whose output differs stops the run; its file is set aside.
rm -f "$file"
check "refuses a different generator" fails make_it "$tmp/other"
set_aside() { [ -f "$file.wrong" ] && [ ! -f "$file" ]; }
check "sets its output aside" set_aside
# A generator that writes nothing, a missing one, an unknown dataset.
check "refuses a generator without output" fails make_it "$tmp/fails"
check "refuses a missing generator" fails make_it "$tmp/missing"
check "refuses an unknown dataset" fails "$here/gen_scale.sh" -g "$gen" gen-unknown
# The size alone decides nothing when it is wrong.
make_it "$gen" > /dev/null 2>&1
truncate -s $((bytes - 4)) "$file"
check "makes a short file anew" make_it "$gen"
check "right size again" [ "$(stat -c %s "$file")" = "$bytes" ]

[ $failed -eq 0 ] || { echo "messages:"; cat "$tmp/log"; }
exit $failed
