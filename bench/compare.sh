#!/usr/bin/env bash
# Compares the speed of two builds of quivrel in one run on one machine.
#
# Usage: bench/compare.sh [-n RUNS] [-r ROWS] [-k] [-m] [-p] REV [REV2] [-- ROW_NAME ...]
#   REV       the reference revision (A)
#   REV2      the revision to measure (B); default: the working tree as it is
#   -n RUNS   runs per side and row when the row does not give its own (default 3)
#   -r ROWS   rows file (default: bench/rows.txt)
#   -k        keep the temporary folder (its path is printed on stderr)
#   -m        compare the outputs without the "Maximum memory usage" figures
#             too (for a change that is meant to change what they measure)
#   -p        run A and B of each round at the same time, each pinned to one
#             of the first two CPUs (swapped every round), and give as the
#             cpu ratio the median of the rounds' ratios: on a machine whose
#             speed wanders, the two sides of a round see the same machine.
#             They share its memory, so a memory-bound row reads a lower
#             ratio than alone: for small differences between two builds,
#             not for a factor against a distant revision.
#   ROW_NAME  only the rows of these datasets
#
# Each side is built (Release) in its own temporary folder: a revision from
# `git archive`, the working tree straight from its sources.  The two
# binaries then run alternately, A B A B ..., on every row.  Every run's
# standard output and ClosedMaxset.txt must equal the first A run's apart
# from the time figures.  Prints one Markdown row per benchmark row with the
# median wall times and their ratio A/B (above 1: B is faster), the same ratio
# of the median CPU times (user + system; less disturbed by other processes
# on a busy machine) and the peak resident memory of each side; exits with 1
# when any output differs.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

runs=3
rows=$BENCH_DIR/rows.txt
keep=0
mask_memory=0
pairs=0
usage="usage: bench/compare.sh [-n RUNS] [-r ROWS] [-k] [-m] [-p] REV [REV2] [-- ROW_NAME ...]"
while getopts "n:r:kmp" opt; do
    case $opt in
        n) runs=$OPTARG ;;
        r) rows=$OPTARG ;;
        k) keep=1 ;;
        m) mask_memory=1 ;;
        p) pairs=1 ;;
        *) die "$usage" ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || die "$usage"
revA=$1
shift
revB=
if [ $# -ge 1 ] && [ "$1" != "--" ]; then
    revB=$1
    shift
fi
[ "${1:-}" = "--" ] && shift
only=" $* "
check_tools
if [ $pairs -eq 1 ]; then
    command -v taskset > /dev/null || die "-p needs taskset (apt-get install -y util-linux)"
    # The first two CPUs this process may run on ("0,2-5" style list).
    mapfile -t cpus < <(taskset -pc $$ | sed 's/.*: //' | tr ',' '\n' |
        awk -F- '{ if (NF == 2) for (c = $1; c <= $2; c++) print c; else print $1 }' | head -n 2)
    [ ${#cpus[@]} -ge 2 ] || die "-p needs two CPUs"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quivrel-compare.XXXXXX")
[ $keep -eq 1 ] && echo "work folder: $work" >&2 || trap 'rm -rf "$work"' EXIT

# Builds the program of a revision (or of the working tree when REV is empty)
# into $work/<side>/build and prints the binary's path.
build_side() {
    local side=$1 rev=$2 src
    if [ -n "$rev" ]; then
        src=$work/$side/src
        mkdir -p "$src"
        git -C "$REPO_DIR" archive "$rev" | tar -x -C "$src" || die "cannot export $rev"
    else
        src=$REPO_DIR
    fi
    cmake -S "$src" -B "$work/$side/build" -DCMAKE_BUILD_TYPE=Release -DQUIVREL_TESTS=OFF \
        > "$work/$side/cmake.log" 2>&1 || die "cmake failed for ${rev:-the working tree} (see $work/$side/cmake.log)"
    cmake --build "$work/$side/build" -j2 --target quivrel > "$work/$side/build.log" 2>&1 ||
        die "build failed for ${rev:-the working tree} (see $work/$side/build.log)"
    echo "$work/$side/build/quivrel"
}

hashA=$(git -C "$REPO_DIR" rev-parse --short "$revA") || die "unknown revision $revA"
if [ -n "$revB" ]; then
    hashB=$(git -C "$REPO_DIR" rev-parse --short "$revB") || die "unknown revision $revB"
else
    hashB="working tree ($(git -C "$REPO_DIR" rev-parse --short HEAD)$(git -C "$REPO_DIR" diff --quiet HEAD -- . || echo '+changes'))"
fi
mkdir -p "$work/A" "$work/B"
binA=$(build_side A "$hashA") || exit 2
binB=$(build_side B "$revB") || exit 2

# Same output as the reference run, time figures (and with -m the memory
# figures) aside.
masked() {
    if [ $mask_memory -eq 1 ]; then
        mask_times "$1" | sed -E 's/^Maximum memory usage: [0-9.]+MB/Maximum memory usage: M MB/'
    else
        mask_times "$1"
    fi
}
same_output() {
    local ref=$1 dir=$2 f
    for f in stdout ClosedMaxset.txt; do
        cmp -s <(masked "$ref/$f") <(masked "$dir/$f") || return 1
    done
    return 0
}

if [ $pairs -eq 1 ]; then
    echo "A = $hashA, B = $hashB; $runs runs per side, A and B at the same time on CPUs ${cpus[0]} and ${cpus[1]};"
    echo "cpu A/B is the median of the rounds' ratios"
else
    echo "A = $hashA, B = $hashB; $runs runs per side, alternating A B"
fi
echo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo "| dataset | support | A wall s | B wall s | wall A/B | A cpu s | B cpu s | cpu A/B | A peak RSS MiB | B peak RSS MiB | output |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
status=0
while read -r name support items rowruns; do
    [ "$only" != "  " ] && [[ "$only" != *" $name "* ]] && continue
    data=$(dataset_path "$name") || exit 2
    n=${rowruns:-$runs}
    wallsA=()
    wallsB=()
    cpusA=()
    cpusB=()
    peakA=0
    peakB=0
    same=identical
    ratios=()
    ref=$work/runs/$name-$support/A1
    for ((i = 1; i <= n; i++)); do
        if [ $pairs -eq 1 ]; then
            # Both sides of the round start together; each one's figures
            # wait in a file until the loop below reads them.
            run_once "$binA" "$work/runs/$name-$support/A$i" "$data" "$support" "$items" "${cpus[i % 2]}" \
                > "$work/pairA" &
            run_once "$binB" "$work/runs/$name-$support/B$i" "$data" "$support" "$items" "${cpus[1 - i % 2]}" \
                > "$work/pairB" &
            wait
        fi
        for side in A B; do
            dir=$work/runs/$name-$support/$side$i
            if [ $side = A ]; then bin=$binA; else bin=$binB; fi
            wall=
            if [ $pairs -eq 1 ]; then
                read -r wall rss cpu < "$work/pair$side"
            else
                read -r wall rss cpu < <(run_once "$bin" "$dir" "$data" "$support" "$items") || exit 2
            fi
            [ -n "${wall:-}" ] || exit 2
            if [ $side = A ]; then
                wallsA+=("$wall")
                cpusA+=("$cpu")
                [ "$rss" -gt "$peakA" ] && peakA=$rss
            else
                wallsB+=("$wall")
                cpusB+=("$cpu")
                [ "$rss" -gt "$peakB" ] && peakB=$rss
            fi
            same_output "$ref" "$dir" || same=DIFFERENT
        done
        ratios+=("$(ratio "${cpusA[-1]}" "${cpusB[-1]}")")
    done
    [ $same = identical ] || status=1
    mA=$(median "${wallsA[@]}")
    mB=$(median "${wallsB[@]}")
    cA=$(median "${cpusA[@]}")
    cB=$(median "${cpusB[@]}")
    if [ $pairs -eq 1 ]; then cratio=$(median "${ratios[@]}" | awk '{ printf "%.2f", $1 }'); else cratio=$(ratio "$cA" "$cB"); fi
    echo "| $name | $support | $mA | $mB | $(ratio "$mA" "$mB") | $cA | $cB | $cratio | $(mib "$peakA") | $(mib "$peakB") | $same |"
done < <(read_rows "$rows")
exit $status
