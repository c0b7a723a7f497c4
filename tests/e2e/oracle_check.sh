#!/usr/bin/env bash
# check.sh helper: the pattern lines of ClosedMaxset.txt (pattern and
# support; the Num= key is left out) must be exactly the closed patterns that
# the brute-force miner $QUIVREL_ORACLE finds for the case's data and support.
# Run in the case's temporary directory after quivrel.
set -u
read -r data support _ < "$CASE_DIR/args"
[ -n "${QUIVREL_ORACLE:-}" ] || { echo "QUIVREL_ORACLE is not set"; exit 2; }
"$QUIVREL_ORACLE" "$data" "$support" > oracle.txt || { echo "oracle failed"; exit 2; }
grep '^<' ClosedMaxset.txt |
    sed -E 's/^(<[^>]*>).*Support = ([0-9]+).*/\1 Support = \2/' | LC_ALL=C sort > printed.txt
LC_ALL=C sort oracle.txt -o oracle.txt
if ! diff -u oracle.txt printed.txt; then
    echo "printed patterns (+) differ from the closed set (-)"
    exit 1
fi
[ -s oracle.txt ] || { echo "the closed set is empty: nothing was checked"; exit 1; }
