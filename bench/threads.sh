#!/usr/bin/env bash
# Wall time with --threads 1 and --threads 2 on the rows of a rows file, run
# alternately, with the peak resident memory of each and the largest
# first-level task's share of the mining time (from the closing line that a
# threaded run prints on standard error).  Checks that both give the same
# pattern lines.
#
# usage: bench/threads.sh [-b BIN] [-n RUNS] [-r ROWS] [ROW_NAME ...]
set -u
source "$(dirname "$0")/lib.sh"
bin=$REPO_DIR/build/quivrel
runs=3
rows=$BENCH_DIR/rows.txt
while getopts "b:n:r:" opt; do
    case $opt in
        b) bin=$OPTARG ;;
        n) runs=$OPTARG ;;
        r) rows=$OPTARG ;;
        *) die "usage: bench/threads.sh [-b BIN] [-n RUNS] [-r ROWS] [ROW_NAME ...]" ;;
    esac
done
shift $((OPTIND - 1))
only=" $* "
check_tools
[ -x "$bin" ] || die "no binary $bin"
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
work=$(mktemp -d "${TMPDIR:-/tmp}/quivrel-threads.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One run with THREADS threads in DIR: prints "wall_seconds peak_rss_kib".
run_threads() {
    local threads=$1 dir=$2 data=$3 support=$4 items=$5 t0 t1
    mkdir -p "$dir"
    t0=$(date +%s%N)
    (cd "$dir" && "$TIME_BIN" -v -o time.txt "$bin" --threads "$threads" "$data" "$support" \
        "$items" > stdout 2> stderr) || die "run failed in $dir"
    t1=$(date +%s%N)
    awk -v a="$t0" -v b="$t1" -F': ' '/Maximum resident set size/ { rss = $2 }
        END { printf "%.3f %d\n", (b - a) / 1e9, rss }' "$dir/time.txt"
}

echo "| dataset | support | runs | wall s, 1 thread | wall s, 2 threads | speed-up | peak RSS MiB, 1 / 2 threads | tasks | largest task |"
echo "|---|---|---|---|---|---|---|---|---|"
while read -r name support items rowruns; do
    [ "$only" != "  " ] && [[ "$only" != *" $name "* ]] && continue
    data=$(dataset_path "$name") || exit 2
    n=${rowruns:-$runs}
    w1=() w2=() r1=0 r2=0
    for ((i = 1; i <= n; i++)); do
        read -r wall rss < <(run_threads 1 "$work/$name/1-$i" "$data" "$support" "$items")
        w1+=("$wall"); [ "$rss" -gt "$r1" ] && r1=$rss
        read -r wall rss < <(run_threads 2 "$work/$name/2-$i" "$data" "$support" "$items")
        w2+=("$wall"); [ "$rss" -gt "$r2" ] && r2=$rss
    done
    cmp -s <(grep '^<' "$work/$name/1-1/ClosedMaxset.txt") \
        <(grep '^<' "$work/$name/2-1/ClosedMaxset.txt") || die "$name: the pattern lines differ"
    tasks=$(sed -n 's/.* \([0-9]*\) tasks on .*/\1/p' "$work/$name/2-1/stderr")
    share=$(sed -n 's/.*the largest task took \([0-9.]*%\).*/\1/p' "$work/$name/2-1/stderr")
    m1=$(median "${w1[@]}") m2=$(median "${w2[@]}")
    echo "| $name | $support | $n | $m1 | $m2 | $(awk -v a="$m1" -v b="$m2" 'BEGIN { printf "%.2fx", a / b }') | $(awk -v a="$r1" -v b="$r2" 'BEGIN { printf "%.1f / %.1f", a / 1024, b / 1024 }') | ${tasks:-0} | ${share:--} |"
    rm -rf "${work:?}/$name"
done < <(read_rows "$rows")
