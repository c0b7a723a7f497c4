#!/usr/bin/env bash
# Builds the libFuzzer target over a whole run and fuzzes it.
#
# usage: tests/fuzz/run.sh SECONDS   fuzz for SECONDS, starting from the seed
#                                    corpus (new inputs go to the build dir's
#                                    work corpus, crashes to its artifacts/)
#        tests/fuzz/run.sh --replay  run every seed input once and stop
#                                    (what CI does)
# The build directory is build-fuzz in the source tree, or $QUIVREL_FUZZ_BUILD.
# Needs clang and libclang-rt-14-dev (libFuzzer and the sanitizer runtimes).
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${QUIVREL_FUZZ_BUILD:-$src/build-fuzz}
corpus=$src/tests/fuzz/corpus

[ $# -eq 1 ] || { echo "usage: $0 SECONDS | --replay" >&2; exit 2; }

mkdir -p "$build"
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DQUIVREL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$build/configure.log" 2>&1 ||
    { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j2 --target quivrel_fuzz_run
target=$build/tests/fuzz/quivrel_fuzz_run

# A run leaves projection memory behind only through a bug; leaks count.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if [ "$1" = --replay ]; then
    # Each seed once: a crash, a sanitizer report or a run over 10 s fails.
    "$target" -timeout=10 -rss_limit_mb=2048 "$corpus"/*
    echo "replayed $(ls "$corpus" | wc -l) inputs"
    exit 0
fi

seconds=$1
mkdir -p "$build/fuzz-corpus" "$build/artifacts"
"$target" "$build/fuzz-corpus" "$corpus" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=1024 \
    -artifact_prefix="$build/artifacts/" -print_final_stats=1
