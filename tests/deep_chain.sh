#!/usr/bin/env bash
# Mines two identical sequences of N one-item itemsets (1)(1)...(1) at
# support 1.0 and checks that quivrel completes with exactly one closed
# pattern of N items.  The test suite runs N = 20,000; this script is for
# checking deeper chains by hand (N = 100,000 takes minutes).
#
# usage: tests/deep_chain.sh QUIVREL [N]
set -euo pipefail
quivrel=$(realpath "$1")
n=${2:-100000}
work=$(mktemp -d "${TMPDIR:-/tmp}/quivrel-deep.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 - "$n" <<'PY'
import struct, sys
n = int(sys.argv[1])
words = ([1, -1] * n + [-2]) * 2
open("data.bin", "wb").write(struct.pack("<%di" % len(words), *words))
PY
start=$(date +%s)
"$quivrel" data.bin 1.0 1 > stdout.txt
status=$?
echo "exit status $status after $(( $(date +%s) - start )) s"
python3 - "$n" <<'PY'
import re, sys
n = int(sys.argv[1])
lines = [l for l in open("ClosedMaxset.txt") if l.startswith("<")]
assert len(lines) == 1, "%d pattern lines" % len(lines)
m = re.match(r"<(.*)>  Num= -?\d+ Support = (\d+)   ItemsetNumber = (\d+)$", lines[0].rstrip("\n"))
assert m and m.group(1) == "(1)" * n and m.group(2) == "2" and m.group(3) == str(n)
print("one closed pattern of %d items, support 2: ok" % n)
PY
