#!/bin/bash
# The program runs on baseline x86-64 CPUs: every instruction beyond that
# (VEX-encoded: AVX, AVX2) must lie in a function whose name says Wide, the
# functions that run only after the CPU said it has AVX2.  A shared inline
# function or template that came out of the link as an AVX2 copy shows up
# here under its own name.
#   wide_compares_confined.sh <quivrel binary>
set -euo pipefail
bin=$1
if [[ $(uname -m) != x86_64 ]]; then
    echo "not x86-64: no eight-word compares to check"
    exit 0
fi
objdump -d --no-show-raw-insn -C "$bin" | awk '
    /^[0-9a-f]+ <.*>:$/ { fn = $0; next }
    $2 ~ /^v/ { if (fn ~ /Wide/) wide++; else outside[fn]++ }
    END {
        bad = 0
        for (f in outside) { print "AVX code outside the wide functions: " f; bad = 1 }
        if (wide == 0) { print "no AVX2 code in the wide functions"; bad = 1 }
        exit bad
    }'
echo "AVX2 code only in the wide functions"
