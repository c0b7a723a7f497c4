#!/usr/bin/env bash
# Benchmark driver: runs quivrel on every row of a rows file, several runs per
# row, and prints a Markdown table with the median wall and CPU times, the peak
# resident memory (largest of the runs, from /usr/bin/time -v) and the
# figures of the run's output.
#
# Usage: bench/run.sh [-b BIN] [-n RUNS] [-r ROWS] [-k] [ROW_NAME ...]
#   -b BIN    quivrel binary (default: build/quivrel of the repository)
#   -n RUNS   runs per row when the row does not give its own (default 5)
#   -r ROWS   rows file (default: bench/rows.txt)
#   -k        keep the work folder (its path is printed on stderr)
#   ROW_NAME  only the rows of these datasets
# Datasets are unpacked into a scratch folder outside the repository (see
# bench/lib.sh for QUIVREL_DATA_SRC and QUIVREL_BENCH_DATA).
set -uo pipefail
source "$(dirname "$0")/lib.sh"

bin=$REPO_DIR/build/quivrel
runs=5
rows=$BENCH_DIR/rows.txt
keep=0
while getopts "b:n:r:k" opt; do
    case $opt in
        b) bin=$OPTARG ;;
        n) runs=$OPTARG ;;
        r) rows=$OPTARG ;;
        k) keep=1 ;;
        *) die "usage: bench/run.sh [-b BIN] [-n RUNS] [-r ROWS] [-k] [ROW_NAME ...]" ;;
    esac
done
shift $((OPTIND - 1))
only=" $* "
check_tools
[ -x "$bin" ] || die "no binary $bin (build it: cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2 --target quivrel)"
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")

work=$(mktemp -d "${TMPDIR:-/tmp}/quivrel-bench.XXXXXX")
[ $keep -eq 1 ] && echo "work folder: $work" >&2 || trap 'rm -rf "$work"' EXIT

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo "| dataset | support | items | runs | wall s (median) | cpu s (median) | peak RSS MiB | data MiB | proj. peak MiB | tree nodes | pattern lines | large items | projected DBs |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
while read -r name support items rowruns; do
    [ "$only" != "  " ] && [[ "$only" != *" $name "* ]] && continue
    data=$(dataset_path "$name") || exit 2
    n=${rowruns:-$runs}
    walls=()
    cpus=()
    peak=0
    for ((i = 1; i <= n; i++)); do
        dir=$work/$name-$support/$i
        read -r wall rss cpu < <(run_once "$bin" "$dir" "$data" "$support" "$items") || exit 2
        [ -n "${wall:-}" ] || exit 2
        walls+=("$wall")
        cpus+=("$cpu")
        [ "$rss" -gt "$peak" ] && peak=$rss
    done
    out=$dir/stdout
    res=$dir/ClosedMaxset.txt
    large=$(sed -n 's/^Total of \([0-9]*\) large items\./\1/p' "$out")
    projected=$(sed -n 's/^# of projected datasets: \([0-9]*\)/\1/p' "$out")
    projmb=$(sed -n 's/^Maximum memory usage: \([0-9.]*\)MB/\1/p' "$out")
    nodes=$(sed -n 's/^Total # of TreeNode: \([0-9]*\)/\1/p' "$res")
    lines=$(grep -c '^<' "$res")
    datamb=$(awk -v b="$(stat -c %s "$data")" 'BEGIN { printf "%.1f", b / 1048576 }')
    echo "| $name | $support | $items | $n | $(median "${walls[@]}") | $(median "${cpus[@]}") | $(mib "$peak") | $datamb | $projmb | $nodes | $lines | $large | $projected |"
done < <(read_rows "$rows")
